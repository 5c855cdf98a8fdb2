#include "sound/Media.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

using namespace std::chrono_literals;

namespace {

const QString ProgramDir = QStringLiteral(NORVALE_PROGRAM_DIR);

QString cue(const QString& name) {
    return QDir(ProgramDir).filePath(name);
}

// Watches a pipeline without keeping it alive: empty once GStreamer has freed it.
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

// Runs the end-of-sound check every 50 ms, as the traffic cycle does more slowly, until done()
// holds; false when it never did within the limit.
bool checkUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        Media::CheckSoundEnd();
        if (done())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

bool idle() {
    return !Media::state.SoundPlaying && !Media::state.Player;
}

class MediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Media::Reset();
        Media::state.AudioSink = QStringLiteral("fakesink sync=true");
    }
    void TearDown() override { Media::Reset(); }

    QString write(const QString& name, const QByteArray& data) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        EXPECT_EQ(file.write(data), data.size());
        return file.fileName();
    }

    QTemporaryDir dir;
};

TEST_F(MediaTest, SecondCueStopsAndReleasesTheFirst) {
    Media::PlaySound(cue(QStringLiteral("connected.mp3")));
    ASSERT_TRUE(Media::state.SoundPlaying);
    Watch first(Media::state.Player.get());

    Media::PlaySound(cue(QStringLiteral("disconnected.mp3")));
    EXPECT_FALSE(first.alive());
    ASSERT_TRUE(Media::state.SoundPlaying);
    ASSERT_TRUE(Media::state.Player);
    Watch second(Media::state.Player.get());

    // The second plays on to its own end and is then released.
    EXPECT_TRUE(checkUntil(idle));
    EXPECT_FALSE(second.alive());
}

TEST_F(MediaTest, AbsentFileLeavesNothingPlayingAndTheNextCueStillPlays) {
    Media::PlaySound(cue(QStringLiteral("start.mp3")));
    ASSERT_TRUE(Media::state.SoundPlaying);
    Watch playing(Media::state.Player.get());

    Media::PlaySound(dir.filePath(QStringLiteral("missing.mp3")));
    EXPECT_TRUE(idle());
    EXPECT_FALSE(playing.alive());
    Media::CheckSoundEnd();
    EXPECT_TRUE(idle());

    Media::PlaySound(QString());
    EXPECT_TRUE(idle());

    Media::PlaySound(cue(QStringLiteral("error.mp3")));
    EXPECT_TRUE(Media::state.SoundPlaying);
}

TEST_F(MediaTest, UnplayableFilesAreReleasedQuietly) {
    QByteArray frames;
    {
        QFile real(cue(QStringLiteral("connected.mp3")));
        ASSERT_TRUE(real.open(QIODevice::ReadOnly));
        frames = real.read(300);
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.mp3")));
    const QStringList files = {
        write(QStringLiteral("text.mp3"), QByteArray("This is not a sound.\r\n").repeated(200)),
        write(QStringLiteral("empty.mp3"), QByteArray()),
        write(QStringLiteral("cut.mp3"), frames),
        dir.filePath(QStringLiteral("folder.mp3")),
    };
    for (const QString& file : files) {
        Media::PlaySound(file);
        EXPECT_TRUE(checkUntil(idle, 5s)) << qPrintable(file);
    }

    Media::PlaySound(cue(QStringLiteral("connected.mp3")));
    EXPECT_TRUE(Media::state.SoundPlaying);
}

TEST_F(MediaTest, FinishedCueIsReleasedAtTheNextCheck) {
    const auto started = std::chrono::steady_clock::now();
    Media::PlaySound(cue(QStringLiteral("connected.mp3"))); // 0.9 s
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
    Media::PlaySound(cue(QStringLiteral("start.mp3")));
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
    ASSERT_TRUE(QFile::copy(cue(QStringLiteral("error.mp3")), odd));
    Media::PlaySound(odd);
    EXPECT_TRUE(Media::state.SoundPlaying);
    EXPECT_TRUE(checkUntil(idle));
}

TEST_F(MediaTest, PipelineThatCannotBeBuiltLeavesNothingPlaying) {
    Media::state.AudioSink = QStringLiteral("no-such-sink-element");
    Media::PlaySound(cue(QStringLiteral("start.mp3")));
    EXPECT_TRUE(idle());

    Media::state.AudioSink = QStringLiteral("fakesink sync=true");
    Media::PlaySound(cue(QStringLiteral("start.mp3")));
    EXPECT_TRUE(Media::state.SoundPlaying);
}

TEST_F(MediaTest, OutputThatCannotOpenItsDeviceLeavesNothingPlaying) {
    // A sound server that is not there, as on a machine without a sound card.
    Media::state.AudioSink =
        QStringLiteral("pulsesink server=unix:") + dir.filePath(QStringLiteral("no-server"));
    Media::PlaySound(cue(QStringLiteral("start.mp3")));
    EXPECT_TRUE(checkUntil(idle, 5s));
}

// Each cue beside the program, decoded into a WAV file, has its length and is clearly audible.
TEST_F(MediaTest, CuesCapturedAreAudible) {
    const struct {
        const char* name;
        double seconds;
    } cues[] = {{"start.mp3", 1.2}, {"connected.mp3", 0.9}, {"disconnected.mp3", 0.9}, {"error.mp3", 0.8}};
    for (const auto& expected : cues) {
        SCOPED_TRACE(expected.name);
        const QString wav = dir.filePath(QString::fromLatin1(expected.name) + QStringLiteral(".wav"));
        Media::state.AudioSink = QStringLiteral("audioconvert ! wavenc ! filesink location=\"%1\"").arg(wav);
        Media::PlaySound(cue(QString::fromLatin1(expected.name)));
        ASSERT_TRUE(Media::state.SoundPlaying);
        ASSERT_TRUE(checkUntil(idle));

        QProcess sox;
        sox.start(QStringLiteral("sox"), {wav, QStringLiteral("-n"), QStringLiteral("stat")});
        ASSERT_TRUE(sox.waitForFinished(30000));
        const QString stat = QString::fromLocal8Bit(sox.readAllStandardError());
        ASSERT_EQ(sox.exitCode(), 0) << qPrintable(stat);
        auto figure = [&stat](const char* name) {
            const QRegularExpression line(QStringLiteral("^%1:\\s+(\\S+)$").arg(QLatin1String(name)),
                                          QRegularExpression::MultilineOption);
            const QRegularExpressionMatch match = line.match(stat);
            bool ok = false;
            const double value = match.hasMatch() ? match.captured(1).toDouble(&ok) : 0.0;
            EXPECT_TRUE(ok) << name << "\n" << qPrintable(stat);
            return value;
        };
        EXPECT_NEAR(figure("Length \\(seconds\\)"), expected.seconds, 0.05);
        EXPECT_GT(figure("Maximum amplitude"), 0.3);
        EXPECT_GT(figure("RMS\\s+amplitude"), 0.05);
    }
}

} // namespace
