#pragma once

// Reader of the focus-stack level move's reply, over the received bytes only.

// The move was refused: its first byte is '-'. Any other reply counts as the stage in place,
// since the reply has no further defined form.
bool levelMoveRefused(const char* data, int length);
