#pragma once

#include "dialer/DialerControl.h"

#include <QString>

#include <memory>

// The dial-up component chosen by "dialer.conf" in the program's folder: the built-in simulated
// line unless it asks for the real one. runFolder is the guard's own owner-only folder, where the
// real line keeps the files of its calls.
std::unique_ptr<DialerControl> CreateDialer(const QString& appFolder, const QString& runFolder,
                                            QObject* parent = nullptr);
