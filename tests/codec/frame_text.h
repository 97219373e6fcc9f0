#ifndef VORSEL_TESTS_CODEC_FRAME_TEXT_H
#define VORSEL_TESTS_CODEC_FRAME_TEXT_H

#include "v640.h"

#include <algorithm>
#include <array>
#include <string>

// Test-side helpers to write frames as text and to look at frame buffers.

constexpr char soh = '\x01';
constexpr std::size_t frameBufferSize = V640_MAX_FRAME_SIZE + 1;
using FrameBuffer = std::array<char, frameBufferSize>;

// Bytes behind a frame's NUL, so that a stray write there shows.
constexpr char bufferFiller = '#';

// A full frame buffer holding the bytes, a NUL behind them when there is room, then filler.
inline FrameBuffer makeFrameBuffer(const std::string &bytes)
{
    FrameBuffer buffer;
    buffer.fill(bufferFiller);
    std::copy_n(bytes.begin(), std::min(bytes.size(), frameBufferSize), buffer.begin());
    if (bytes.size() < frameBufferSize) {
        buffer[bytes.size()] = '\0';
    }
    return buffer;
}

inline std::string addressedFrame(const std::string &nodeDigits, const std::string &message,
                                  const std::string &fcs)
{
    return std::string(1, soh) + nodeDigits + message + fcs + "\r";
}

// The exclusive-or of the node digits and the message, as two uppercase hex digits.
inline std::string fcsText(const std::string &nodeDigitsAndMessage)
{
    unsigned char value = 0;
    for (char character : nodeDigitsAndMessage) {
        value ^= static_cast<unsigned char>(character);
    }
    const char digits[] = "0123456789ABCDEF";
    return {digits[value >> 4], digits[value & 0x0F]};
}

// A sealed addressed frame: SOH, node digits, message, FCS and CR.
inline std::string sealedFrame(const std::string &nodeDigits, const std::string &message)
{
    return addressedFrame(nodeDigits, message, fcsText(nodeDigits + message));
}

// The buffer's bytes up to and including the first CR and the byte behind it (the NUL that
// writers leave there), or the whole buffer when there is no CR.
inline std::string frameWithNul(const FrameBuffer &buffer)
{
    const auto cr = std::find(buffer.begin(), buffer.end(), '\r');
    if (cr == buffer.end() || cr + 1 == buffer.end()) {
        return std::string(buffer.begin(), buffer.end());
    }
    return std::string(buffer.begin(), cr + 2);
}

inline std::string asString(const FrameBuffer &buffer)
{
    return std::string(buffer.begin(), buffer.end());
}

// Offset of a pointer result inside the frame, -1 for null.
inline long offsetIn(const char *frame, const char *result)
{
    return result == nullptr ? -1 : result - frame;
}

#endif
