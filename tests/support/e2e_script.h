#pragma once
// Protocol exchanges as readable text, one step per line:
//
//   > Ping {}               send a frame: a message name or a type number, then the JSON text
//   < Pong {}               the next frame is exactly this type and text, with an empty payload
//   close                   close the renderer's stdin
//   exit 0                  the renderer ends with this code; nothing more is written
//   # comment
//
// Everything after the name and one blank is the JSON text, byte for byte (empty when absent).
// "@fonts(N)" or "@fonts(N,p)" in a sent text stands for an array of N minimal descriptors with
// ids p0 .. pN-1 (p defaults to "f"). A script that does not end with "exit" is finished by
// closing stdin, which must end the renderer with 0 and no further frame. Stderr must stay empty.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "support/e2e_renderer.h"

namespace kfp::test {

// The array text of `count` descriptors whose names match no installed font.
std::string fontArray(size_t count, std::string_view idPrefix = "f");
std::string expandFontMacros(std::string_view json);

::testing::AssertionResult runExchange(RendererSession& session, std::string_view script);

struct ExchangeCase {
  const char* name;
  const char* script;
};

// Runs each case against a fresh renderer.
void runExchanges(const std::string& rendererPath, const ExchangeCase* begin,
                  const ExchangeCase* end);

template <size_t N>
void runExchanges(const std::string& rendererPath, const ExchangeCase (&cases)[N]) {
  runExchanges(rendererPath, cases, cases + N);
}

}  // namespace kfp::test
