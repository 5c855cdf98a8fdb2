#pragma once

#include "platform/dialer/DialerControl.h"

#include <QString>

#include <memory>

// The dial-up component chosen by "dialer.conf" in the program's folder: the built-in simulated
// line unless it asks for the real one.
std::unique_ptr<DialerControl> CreateDialer(const QString& appFolder, QObject* parent = nullptr);
