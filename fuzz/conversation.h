// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

#include <cstddef>
#include <cstdint>

namespace tarvik::fuzz {

// Plays one encoded conversation between a dump run and a boot loader over an
// in-memory port (the encoding is described in conversation.cpp and the
// README), and returns every rule the run broke; empty when it behaved.
// Needs a QCoreApplication.
QStringList playConversation(const uint8_t *data, size_t size);

} // namespace tarvik::fuzz
