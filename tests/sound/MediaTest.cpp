#include "sound/Media.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace std::chrono_literals;

namespace {

// The cues as the build puts them beside the program.
QString cue(const char* name) {
    return QDir(QStringLiteral(NORVALE_PROGRAM_DIR)).filePath(QString::fromLatin1(name));
}

// Watches a pipeline without keeping it alive: alive() is false once GStreamer has freed it.
class Watch final {
public:
    explicit Watch(GstElement* element) { g_weak_ref_init(&ref, element); }
    ~Watch() { g_weak_ref_clear(&ref); }
    Q_DISABLE_COPY_MOVE(Watch)

    bool alive() {
        gpointer object = g_weak_ref_get(&ref);
        if (object)
            g_object_unref(object);
        return object != nullptr;
    }

private:
    GWeakRef ref;
};

bool idle() {
    return !Media::state.SoundPlaying && !Media::state.Player;
}

// Runs the end-of-sound check every 50 ms until nothing is held; false if that never happened.
bool checkUntilIdle(std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (; std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(50ms)) {
        Media::CheckSoundEnd();
        if (idle())
            return true;
    }
    return false;
}

class MediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Media::Reset();
        Media::state.AudioSink = QStringLiteral("fakesink sync=true");
    }
    void TearDown() override { Media::Reset(); }

    QTemporaryDir dir;
};

TEST_F(MediaTest, SecondCueStopsAndReleasesTheFirst) {
    Media::PlaySound(cue("connected.mp3"));
    ASSERT_TRUE(Media::state.SoundPlaying);
    Watch first(Media::state.Player.get());

    Media::PlaySound(cue("disconnected.mp3"));
    EXPECT_FALSE(first.alive());
    ASSERT_TRUE(Media::state.SoundPlaying);
    Watch second(Media::state.Player.get());

    // The second plays on to its own end and is then released.
    EXPECT_TRUE(checkUntilIdle());
    EXPECT_FALSE(second.alive());
}

TEST_F(MediaTest, AbsentFileStopsTheCurrentCueAndTheNextCueStillPlays) {
    Media::PlaySound(cue("start.mp3"));
    ASSERT_TRUE(Media::state.SoundPlaying);
    Watch playing(Media::state.Player.get());

    Media::PlaySound(dir.filePath(QStringLiteral("missing.mp3")));
    EXPECT_TRUE(idle());
    EXPECT_FALSE(playing.alive());
    Media::PlaySound(QString());
    EXPECT_TRUE(idle());

    Media::PlaySound(cue("error.mp3"));
    EXPECT_TRUE(Media::state.SoundPlaying);
}

TEST_F(MediaTest, UnplayableFilesAreReleasedQuietly) {
    QFile real(cue("connected.mp3"));
    ASSERT_TRUE(real.open(QIODevice::ReadOnly));
    const QList<QByteArray> contents = {QByteArray("This is not a sound.\r\n").repeated(200), QByteArray(),
                                        real.read(300)};
    QStringList files = {dir.filePath(QStringLiteral("folder.mp3"))};
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.mp3")));
    for (const QByteArray& content : contents) {
        QFile file(dir.filePath(QStringLiteral("bad%1.mp3").arg(files.size())));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(content), content.size());
        files << file.fileName();
    }
    for (const QString& file : files) {
        Media::PlaySound(file);
        EXPECT_TRUE(checkUntilIdle(5s)) << qPrintable(file);
    }

    Media::PlaySound(cue("connected.mp3"));
    EXPECT_TRUE(Media::state.SoundPlaying);
}

TEST_F(MediaTest, FinishedCueIsReleasedAtTheNextCheck) {
    const auto started = std::chrono::steady_clock::now();
    Media::PlaySound(cue("connected.mp3")); // 0.9 s
    ASSERT_TRUE(Media::state.SoundPlaying);
    Watch player(Media::state.Player.get());

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
    EXPECT_TRUE(Media::state.SoundPlaying);
    EXPECT_TRUE(player.alive());
    Media::CheckSoundEnd();
    EXPECT_TRUE(idle());
    EXPECT_FALSE(player.alive());
}

TEST_F(MediaTest, StopSoundStopsAndReleases) {
    Media::PlaySound(cue("start.mp3"));
    ASSERT_TRUE(Media::state.SoundPlaying);
    Watch player(Media::state.Player.get());

    Media::StopSound();
    EXPECT_TRUE(idle());
    EXPECT_FALSE(player.alive());
    Media::StopSound();
    Media::CheckSoundEnd();
    EXPECT_TRUE(idle());
}

TEST_F(MediaTest, PathWithBlanksAndSignsPlays) {
    const QString odd = dir.filePath(QStringLiteral("cue #1 100% è?.mp3"));
    ASSERT_TRUE(QFile::copy(cue("error.mp3"), odd));
    Media::PlaySound(odd);
    EXPECT_TRUE(Media::state.SoundPlaying);
    EXPECT_TRUE(checkUntilIdle());
}

TEST_F(MediaTest, OutputThatCannotBeBuiltOrOpenedLeavesNothingPlaying) {
    Media::state.AudioSink = QStringLiteral("no-such-sink-element");
    Media::PlaySound(cue("start.mp3"));
    EXPECT_TRUE(idle());

    // A sound server that is not there, as on a machine without a sound card.
    GstElementFactory* pulse = gst_element_factory_find("pulsesink");
    ASSERT_TRUE(pulse);
    gst_object_unref(pulse);
    Media::state.AudioSink = QStringLiteral("pulsesink server=unix:") + dir.filePath(QStringLiteral("none"));
    Media::PlaySound(cue("start.mp3"));
    EXPECT_TRUE(checkUntilIdle(5s));
}

// Each cue, decoded into a WAV file, has its length and is clearly audible.
TEST_F(MediaTest, CuesCapturedAreAudible) {
    const std::pair<const char*, double> cues[] = {
        {"start.mp3", 1.2}, {"connected.mp3", 0.9}, {"disconnected.mp3", 0.9}, {"error.mp3", 0.8}};
    for (const auto& [name, seconds] : cues) {
        SCOPED_TRACE(name);
        const QString wav = dir.filePath(QString::fromLatin1(name) + QStringLiteral(".wav"));
        Media::state.AudioSink = QStringLiteral("audioconvert ! wavenc ! filesink location=\"%1\"").arg(wav);
        Media::PlaySound(cue(name));
        ASSERT_TRUE(Media::state.SoundPlaying);
        ASSERT_TRUE(checkUntilIdle());

        QProcess sox;
        sox.start(QStringLiteral("sox"), {wav, QStringLiteral("-n"), QStringLiteral("stat")});
        ASSERT_TRUE(sox.waitForFinished(30000));
        const QString stat = QString::fromLocal8Bit(sox.readAllStandardError());
        ASSERT_EQ(sox.exitCode(), 0) << qPrintable(stat);
        auto figure = [&stat](const char* label) {
            const QRegularExpression line(QStringLiteral("^%1:\\s+(\\S+)$").arg(QLatin1String(label)),
                                          QRegularExpression::MultilineOption);
            bool ok = false;
            const double value = line.match(stat).captured(1).toDouble(&ok);
            EXPECT_TRUE(ok) << label << "\n" << qPrintable(stat);
            return value;
        };
        EXPECT_NEAR(figure("Length \\(seconds\\)"), seconds, 0.05);
        EXPECT_GT(figure("Maximum amplitude"), 0.3);
        EXPECT_GT(figure("RMS\\s+amplitude"), 0.05);
    }
}

} // namespace
