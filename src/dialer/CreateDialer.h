#pragma once

#include "dialer/DialerControl.h"
#include "platform/InstallFolders.h"

#include <QString>

#include <memory>

// The dial-up component chosen by "dialer.conf": the built-in simulated line, its control socket in
// the run folder, unless it asks for the real one, which keeps the files of its calls in the
// guard's private run folder.
std::unique_ptr<DialerControl> CreateDialer(const InstallFolders& folders, QObject* parent = nullptr);
