#include "sound/Media.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <deque>
#include <thread>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

class MediaTest : public ::testing::Test {
protected:
    // The cues as the build puts them beside the program.
    static QString cue(const QString& name) {
        return QDir(QStringLiteral(NORVALE_PROGRAM_DIR)).filePath(name);
    }
    static bool idle() { return !Media::state.SoundPlaying && !Media::state.Player; }

    // Runs the end-of-sound check every 50 ms until nothing is held; false if that never happened.
    static bool checkUntilIdle(std::chrono::milliseconds limit = 10s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (Media::CheckSoundEnd(); !idle() && std::chrono::steady_clock::now() < end;
             Media::CheckSoundEnd())
            std::this_thread::sleep_for(50ms);
        return idle();
    }

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Media::Reset();
        Media::state.AudioSink = u"fakesink sync=true"_s;
    }
    void TearDown() override {
        Media::Reset();
        for (GWeakRef& ref : players)
            g_weak_ref_clear(&ref);
    }

    // Watches the pipeline without keeping it alive.
    GWeakRef* play(const QString& path) {
        Media::PlaySound(path);
        EXPECT_TRUE(Media::state.SoundPlaying) << qPrintable(path);
        g_weak_ref_init(&players.emplace_back(), Media::state.Player.get());
        return &players.back();
    }
    static bool alive(GWeakRef* player) {
        g_autoptr(GObject) object = G_OBJECT(g_weak_ref_get(player));
        return object != nullptr;
    }

    QTemporaryDir dir;
    std::deque<GWeakRef> players;
};

TEST_F(MediaTest, ANewCueAnAbsentFileOrStopSoundStopsAndReleasesTheCueThatPlays) {
    const auto first = play(cue(u"connected.mp3"_s));
    const auto second = play(cue(u"disconnected.mp3"_s));
    EXPECT_FALSE(alive(first));
    Media::PlaySound(dir.filePath(u"missing.mp3"_s));
    EXPECT_TRUE(idle());
    EXPECT_FALSE(alive(second));
    Media::PlaySound(QString());
    EXPECT_TRUE(idle());

    const auto third = play(cue(u"error.mp3"_s));
    Media::StopSound();
    EXPECT_TRUE(idle());
    EXPECT_FALSE(alive(third));
    Media::StopSound();
    Media::CheckSoundEnd();
    EXPECT_TRUE(idle());
}

TEST_F(MediaTest, FinishedCueIsReleasedAtTheNextCheck) {
    const auto started = std::chrono::steady_clock::now();
    const auto player = play(cue(u"connected.mp3"_s)); // 0.9 s
    // Right after the start the pipeline does not know its length yet; the cue plays on.
    Media::CheckSoundEnd();
    EXPECT_TRUE(Media::state.SoundPlaying);
    std::this_thread::sleep_for(250ms);
    Media::CheckSoundEnd();
    if (std::chrono::steady_clock::now() - started < 700ms) {
        EXPECT_TRUE(Media::state.SoundPlaying);
    }
    // Long after its end the finished cue is still held, until the next check releases it.
    std::this_thread::sleep_until(started + 2500ms);
    EXPECT_TRUE(Media::state.SoundPlaying && alive(player));
    Media::CheckSoundEnd();
    EXPECT_TRUE(idle());
    EXPECT_FALSE(alive(player));
}

// Files that are no sound and outputs that cannot be built or reached (a sound server that is not
// there, as on a machine without a sound card) leave nothing playing, quietly.
TEST_F(MediaTest, WhatCannotBePlayedIsReleasedAndTheNextCueStillPlays) {
    Media::state.AudioSink = u"no-such-sink-element"_s;
    Media::PlaySound(cue(u"start.mp3"_s));
    EXPECT_TRUE(idle());
    g_autoptr(GstElementFactory) pulse = gst_element_factory_find("pulsesink");
    ASSERT_TRUE(pulse); // not the element-not-found path again
    const auto released = [&](const QString& sink, const QString& file) {
        Media::state.AudioSink = sink;
        Media::PlaySound(file);
        return checkUntilIdle(5s);
    };
    const QString fake = u"fakesink sync=true"_s, bad = dir.filePath(u"bad.mp3"_s);
    QFile real(cue(u"connected.mp3"_s));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    for (const QByteArray& content :
         {QByteArray("This is not a sound.\r\n").repeated(200), {}, real.read(300)}) {
        QFile file(bad);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        EXPECT_TRUE(released(fake, bad)) << content.size();
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"folder.mp3"_s));
    EXPECT_TRUE(released(fake, dir.filePath(u"folder.mp3"_s)));
    EXPECT_TRUE(released(u"pulsesink server=unix:"_s + dir.filePath(u"none"_s), cue(u"start.mp3"_s)));
    Media::state.AudioSink = u"fakesink sync=true"_s;
    play(cue(u"connected.mp3"_s));
}

// Each cue, decoded into a WAV file from a path with blanks and signs, has its length and is
// clearly audible.
TEST_F(MediaTest, CuesCapturedAreAudible) {
    for (const auto& [name, seconds] : {std::pair{"start.mp3", 1.2}, std::pair{"connected.mp3", 0.9},
                                        std::pair{"disconnected.mp3", 0.9}, std::pair{"error.mp3", 0.8}}) {
        SCOPED_TRACE(name);
        const QString odd = dir.filePath(u"cue #1 100% è? "_s + QLatin1String(name));
        const QString wav = dir.filePath(QLatin1String(name) + u".wav"_s);
        ASSERT_TRUE(QFile::copy(cue(QLatin1String(name)), odd));
        Media::state.AudioSink = u"audioconvert ! wavenc ! filesink location=\"%1\""_s.arg(wav);
        play(odd);
        ASSERT_TRUE(checkUntilIdle());

        QProcess sox;
        sox.start(u"sox"_s, {wav, u"-n"_s, u"stat"_s});
        ASSERT_TRUE(sox.waitForFinished(30000));
        const QString stat = QString::fromLocal8Bit(sox.readAllStandardError());
        ASSERT_EQ(sox.exitCode(), 0) << qPrintable(stat);
        QMap<QString, double> figures;
        for (const QString& line : stat.split(u'\n'))
            figures[line.section(u':', 0, 0).simplified()] = line.section(u':', 1).toDouble();
        EXPECT_NEAR(figures[u"Length (seconds)"_s], seconds, 0.05) << qPrintable(stat);
        EXPECT_GT(figures[u"Maximum amplitude"_s], 0.3);
        EXPECT_GT(figures[u"RMS amplitude"_s], 0.05);
    }
}

} // namespace
