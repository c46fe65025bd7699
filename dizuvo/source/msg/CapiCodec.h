#pragma once
// CAPI 2.0 messages to and from the flat record, driven by the tables.
// Every length and index is checked: a message that does not fit, a command
// CAPI does not define and a structure running past the message end give an
// error word and leave nothing half done to be sent.
#include <cstddef>
#include <cstdint>

#include "platform/capi/CapiMessage.h"

// Encodes cmsg into buffer (capacity bytes). 0, or CAPI_ILLCMDORSUBCMDORMSGTOSMALL
// for an undefined message, CAPI_ILLMESSAGEPARMCODING when it does not fit.
unsigned CapiEncode(CapiMessage* cmsg, uint8_t* buffer, size_t capacity);
// Clears cmsg and decodes the message at msg, of which `available` bytes may
// be read. 0, or CAPI_ILLCMDORSUBCMDORMSGTOSMALL for a short message or an
// undefined command, CAPI_ILLMESSAGEPARMCODING when a length runs past the end.
// Structure members point into msg.
unsigned CapiDecode(CapiMessage* cmsg, const uint8_t* msg, size_t available);
