#pragma once

#include <QString>

#include <memory>

typedef struct _GstElement GstElement;

// Program-wide state of the sound cues: one sound at a time, played by a GStreamer playbin
// pipeline and released once it has finished.
namespace Media {

// Takes a pipeline to NULL before dropping it, as GStreamer requires.
struct PipelineRelease {
    void operator()(GstElement* pipeline) const;
};
using Pipeline = std::unique_ptr<GstElement, PipelineRelease>;

struct State {
    Pipeline Player;           // the pipeline of the current sound, held only while SoundPlaying
    bool SoundPlaying = false; // true from a successful start until the sound is stopped

    // Where the sound goes, as a gst-launch description ("fakesink sync=true"); empty means the
    // desktop's default output. Tests put a silent or a capturing sink here.
    QString AudioSink;
};

inline State state;

// Stops any current sound and starts playing the file; returns at once. A file that cannot be
// played leaves SoundPlaying false and says nothing.
void PlaySound(const QString& path);

// Stops and releases the current sound.
void StopSound();

// Run at each traffic-cycle tick: releases a sound that has reached its end or broken down.
void CheckSoundEnd();

// Back to the values of a fresh start; stops any sound.
void Reset();

} // namespace Media
