#include "sound/Media.h"
#include "TestFiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

// The cues as the build puts them beside the program.
QString cue(const QString& name) {
    return QDir(QStringLiteral(NORVALE_PROGRAM_DIR)).filePath(name);
}

bool idle() {
    return !Media::state.SoundPlaying && !Media::state.Player;
}

// Runs the end-of-sound check every 50 ms until nothing is held; false if that never happened.
bool checkUntilIdle() {
    const auto end = std::chrono::steady_clock::now() + 10s;
    for (Media::CheckSoundEnd(); !idle() && std::chrono::steady_clock::now() < end; Media::CheckSoundEnd())
        std::this_thread::sleep_for(50ms);
    return idle();
}

class MediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Media::Reset();
        Media::state.AudioSink = u"fakesink sync=true"_s;
    }
    void TearDown() override { Media::Reset(); }

    QTemporaryDir dir;
};

// No two cues are heard at once: a new cue, an absent file or StopSound ends the one that plays.
TEST_F(MediaTest, ANewCueAnAbsentFileOrStopSoundStopsTheCueThatPlays) {
    Media::PlaySound(cue(u"disconnected.mp3"_s));
    Media::PlaySound(dir.filePath(u"missing.mp3"_s));
    EXPECT_TRUE(idle());
    Media::PlaySound(cue(u"error.mp3"_s));
    EXPECT_TRUE(Media::state.SoundPlaying);
    Media::StopSound();
    EXPECT_TRUE(idle());
}

// Files that are no sound and outputs that cannot be built or reached (a sound server that is not
// there, as on a machine without a sound card) leave nothing playing, quietly.
TEST_F(MediaTest, WhatCannotBePlayedIsReleasedAndTheNextCueStillPlays) {
    writeBytes(dir.filePath(u"junk.mp3"_s), QByteArray("This is not a sound.\r\n").repeated(200));
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"folder.mp3"_s));
    const QString fake = u"fakesink sync=true"_s;
    const std::pair<QString, QString> rows[] = {
        {u"no-such-sink-element"_s, cue(u"start.mp3"_s)},
        {u"pulsesink server=unix:"_s + dir.filePath(u"none"_s), cue(u"start.mp3"_s)},
        {fake, dir.filePath(u"junk.mp3"_s)},
        {fake, dir.filePath(u"folder.mp3"_s)},
    };
    for (const auto& [sink, file] : rows) {
        Media::state.AudioSink = sink;
        Media::PlaySound(file);
        EXPECT_TRUE(checkUntilIdle()) << qPrintable(sink + u' ' + file);
    }
    Media::PlaySound(cue(u"connected.mp3"_s)); // with the last row's output
    EXPECT_TRUE(Media::state.SoundPlaying);
}

// A cue from a path with blanks and signs is decoded to its end; that a cue captured so is audible and
// of its length is the black-box run's (tests/e2e/first-run.sh).
TEST_F(MediaTest, ACueFromAnOddPathIsDecodedToItsEnd) {
    const QString odd = dir.filePath(u"cue #1 100% è? start.mp3"_s), wav = dir.filePath(u"start.wav"_s);
    ASSERT_TRUE(QFile::copy(cue(u"start.mp3"_s), odd));
    Media::state.AudioSink = u"audioconvert ! wavenc ! filesink location=\"%1\""_s.arg(wav);
    Media::PlaySound(odd);
    ASSERT_TRUE(checkUntilIdle());
    // wavenc fills in the RIFF size (file size less 8) once the stream has ended.
    const QByteArray wave = readBytes(wav);
    ASSERT_GT(wave.size(), 44);
    EXPECT_EQ(qFromLittleEndian<quint32>(wave.constData() + 4), quint32(wave.size() - 8));
}

} // namespace
