#pragma once

#include <optional>
#include <utility>
#include <QtGlobal>

// Readers of the log-in dialog's short replies, over the received bytes only.

// "f=cwt": "*" when the user has no window, else the seconds until the window starts and its
// length. Nothing when the reply gives no window (a "*", or fewer than two numbers).
std::optional<std::pair<qint64, qint64>> parseControlWindow(const char* data, int length);
