#include "sound/Media.h"

#include <QFile>
#include <QFileInfo>

#include <gst/gst.h>

namespace Media {

namespace {

// playbin's GstPlayFlags: audio with its own volume control, no video or subtitle branches, so
// a file with cover art never opens a window.
constexpr guint PlayAudio = 0x02;
constexpr guint PlaySoftVolume = 0x10;

// GStreamer keeps its own once-only guard; a machine without it simply plays nothing.
bool gstreamerReady() {
    return gst_is_initialized() || gst_init_check(nullptr, nullptr, nullptr);
}

// A new pipeline with the chosen output, or none when it cannot be built.
Pipeline newPlayer() {
    GstElement* made = gst_element_factory_make("playbin", nullptr);
    if (!made)
        return {};
    Pipeline player(GST_ELEMENT(gst_object_ref_sink(made)));
    g_object_set(player.get(), "flags", PlayAudio | PlaySoftVolume, nullptr);
    if (!state.AudioSink.isEmpty()) {
        GError* error = nullptr;
        GstElement* sink = gst_parse_bin_from_description(state.AudioSink.toUtf8().constData(), TRUE, &error);
        if (error) {
            g_error_free(error);
            if (sink)
                gst_object_unref(gst_object_ref_sink(sink));
            return {};
        }
        if (!sink)
            return {};
        g_object_set(player.get(), "audio-sink", sink, nullptr);
    }
    return player;
}

} // namespace

void PipelineRelease::operator()(GstElement* pipeline) const {
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

void PlaySound(const QString& path) {
    if (state.Player)
        StopSound();
    if (!gstreamerReady())
        return;
    Pipeline player = newPlayer();
    if (!player)
        return;

    if (path.isEmpty())
        return;
    const QByteArray file = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    gchar* uri = gst_filename_to_uri(file.constData(), nullptr);
    if (!uri)
        return;
    g_object_set(player.get(), "uri", uri, nullptr);
    g_free(uri);
    g_object_set(player.get(), "volume", 1.0, nullptr);

    // A missing or unreadable file fails here; a file that is not audio fails a moment later in
    // GStreamer's own threads, and the next check releases it.
    if (gst_element_set_state(player.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return;
    state.Player = std::move(player);
    state.SoundPlaying = true;
}

void StopSound() {
    state.Player.reset();
    state.SoundPlaying = false;
}

void CheckSoundEnd() {
    if (!state.SoundPlaying)
        return;
    GstElement* player = state.Player.get();

    // The end-of-stream message also ends a sound whose last position falls a little short of
    // the length the file announced.
    bool ended = false;
    GstBus* bus = gst_element_get_bus(player);
    while (GstMessage* message =
               gst_bus_pop_filtered(bus, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR))) {
        ended = true;
        gst_message_unref(message);
    }
    gst_object_unref(bus);

    // While the pipeline is still starting it knows neither; then the sound goes on.
    gint64 duration = -1;
    gint64 position = -1;
    if (!ended && gst_element_query_duration(player, GST_FORMAT_TIME, &duration) &&
        gst_element_query_position(player, GST_FORMAT_TIME, &position))
        ended = duration > 0 && position >= duration;

    if (ended)
        StopSound();
}

void Reset() {
    StopSound();
    state = State{};
}

} // namespace Media
