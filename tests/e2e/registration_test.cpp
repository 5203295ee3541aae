// Font registration over the wire: the single-message and chunked paths, their limits, error
// codes and the state the renderer keeps between messages.
//
// Descriptors carry only a fontId, so no installed font matches them: a Measure of a registered id
// answers FONT_NOT_FOUND and of an id outside the active set FONT_NOT_REGISTERED. That shows which
// set is active without depending on the fonts of the machine.

#include <gtest/gtest.h>

#include "protocol/message_types.h"
#include "support/e2e_renderer.h"
#include "support/e2e_script.h"

namespace kfp::test {
namespace {

constexpr ExchangeCase kRegisterFontsCases[] = {
    {"empty list", R"(
      > RegisterFonts {"fonts":[]}
      < FontsRegistered {"fontCount":0}
    )"},
    {"three fonts become the active set", R"(
      > RegisterFonts {"fonts":@fonts(3)}
      < FontsRegistered {"fontCount":3}
      > Measure {"generation":1,"fontIds":["f2","f3"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"f2","resolved":false,"error":"FONT_NOT_FOUND"},{"fontId":"f3","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"a new list replaces the old one", R"(
      > RegisterFonts {"fonts":@fonts(2,old)}
      < FontsRegistered {"fontCount":2}
      > RegisterFonts {"fonts":@fonts(1,new)}
      < FontsRegistered {"fontCount":1}
      > Measure {"generation":1,"fontIds":["old0","new0"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"old0","resolved":false,"error":"FONT_NOT_REGISTERED"},{"fontId":"new0","resolved":false,"error":"FONT_NOT_FOUND"}]}
    )"},
    {"the same id in two registrations", R"(
      > RegisterFonts {"fonts":@fonts(1)}
      < FontsRegistered {"fontCount":1}
      > RegisterFonts {"fonts":@fonts(1)}
      < FontsRegistered {"fontCount":1}
    )"},
    {"fonts missing or not an array", R"(
      > RegisterFonts {}
      < Error {"error":"INVALID_FONT_LIST"}
      > RegisterFonts
      < Error {"error":"INVALID_FONT_LIST"}
      > RegisterFonts {"fonts":"x"}
      < Error {"error":"INVALID_FONT_LIST"}
      > RegisterFonts {"fonts":{"fontId":"a"}}
      < Error {"error":"INVALID_FONT_LIST"}
      > RegisterFonts {"fonts":null}
      < Error {"error":"INVALID_FONT_LIST"}
    )"},
    {"a bad element keeps the previous active set", R"(
      > RegisterFonts {"fonts":@fonts(2,old)}
      < FontsRegistered {"fontCount":2}
      > RegisterFonts {"fonts":[{"fontId":"a"},{"fontId":"b"},{"familyName":"c"}]}
      < Error {"error":"TOO_MANY_FONTS"}
      > RegisterFonts {"fonts":[{"fontId":"a"},{"fontId":"a"}]}
      < Error {"error":"TOO_MANY_FONTS"}
      > RegisterFonts {"fonts":[{"fontId":"a"},5]}
      < Error {"error":"TOO_MANY_FONTS"}
      > RegisterFonts {"fonts":[{"fontId":""}]}
      < Error {"error":"TOO_MANY_FONTS"}
      > RegisterFonts {"fonts":[{"fontId":7}]}
      < Error {"error":"TOO_MANY_FONTS"}
      > Measure {"generation":1,"fontIds":["old1","a"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"old1","resolved":false,"error":"FONT_NOT_FOUND"},{"fontId":"a","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"complete descriptors with axes", R"(
      > RegisterFonts {"fonts":[{"fontId":"v","familyName":"No Such Family \u00e9","nativeFamilyName":"","fullName":"No Such Family Bold","nativeFullName":"","styleName":"Bold","nativeStyleName":"","postScriptName":"NoSuchFamily-Bold","designAxesData":[{"tag":"wght","min":100,"max":900},{"tag":"wdth"},5],"designVector":[650,"x",1]},{"fontId":"w","designAxesData":"x"}]}
      < FontsRegistered {"fontCount":2}
    )"},
};

TEST(RegisterFontsTest, Exchanges) {
  runExchanges(kRendererPath, kRegisterFontsCases);
}

constexpr ExchangeCase kChunkedCases[] = {
    {"announce nothing, commit nothing: the active set becomes empty", R"(
      > RegisterFonts {"fonts":@fonts(1)}
      < FontsRegistered {"fontCount":1}
      > BeginFonts {"fontCount":0}
      < BeginFontsAck {}
      > CommitFonts {}
      < FontsRegistered {"fontCount":0}
      > Measure {"generation":1,"fontIds":["f0"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"f0","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"valid counts", R"(
      > BeginFonts {"fontCount":50000}
      < BeginFontsAck {}
      > BeginFonts {"fontCount":3.0}
      < BeginFontsAck {}
      > BeginFonts {"fontCount":0}
      < BeginFontsAck {}
    )"},
    {"invalid counts", R"(
      > BeginFonts {"fontCount":2.5}
      < Error {"error":"INVALID_FONT_COUNT"}
      > BeginFonts {"fontCount":-1}
      < Error {"error":"INVALID_FONT_COUNT"}
      > BeginFonts {"fontCount":50001}
      < Error {"error":"INVALID_FONT_COUNT"}
      > BeginFonts {"fontCount":50000.5}
      < Error {"error":"INVALID_FONT_COUNT"}
      > BeginFonts {"fontCount":"3"}
      < Error {"error":"INVALID_FONT_COUNT"}
      > BeginFonts {}
      < Error {"error":"INVALID_FONT_COUNT"}
      > BeginFonts
      < Error {"error":"INVALID_FONT_COUNT"}
    )"},
    {"two chunks and a commit", R"(
      > BeginFonts {"fontCount":3}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(2,a)}
      < FontChunkAck {"receivedCount":2}
      > FontChunk {"fonts":@fonts(1,b)}
      < FontChunkAck {"receivedCount":3}
      > CommitFonts {}
      < FontsRegistered {"fontCount":3}
      > Measure {"generation":1,"fontIds":["a1","b0","b1"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"a1","resolved":false,"error":"FONT_NOT_FOUND"},{"fontId":"b0","resolved":false,"error":"FONT_NOT_FOUND"},{"fontId":"b1","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"commit reads no JSON members", R"(
      > BeginFonts {"fontCount":1}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(1)}
      < FontChunkAck {"receivedCount":1}
      > CommitFonts
      < FontsRegistered {"fontCount":1}
    )"},
    {"missing fonts: the commit fails, the old set stays, the registration is closed", R"(
      > RegisterFonts {"fonts":@fonts(1,old)}
      < FontsRegistered {"fontCount":1}
      > BeginFonts {"fontCount":3}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(2)}
      < FontChunkAck {"receivedCount":2}
      > CommitFonts {}
      < Error {"error":"INCOMPLETE_FONT_REGISTRATION"}
      > FontChunk {"fonts":@fonts(1,x)}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > Measure {"generation":1,"fontIds":["old0","f0"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"old0","resolved":false,"error":"FONT_NOT_FOUND"},{"fontId":"f0","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"more fonts than announced discards the registration", R"(
      > BeginFonts {"fontCount":3}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(4)}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > FontChunk {"fonts":@fonts(1)}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > CommitFonts {}
      < Error {"error":"INCOMPLETE_FONT_REGISTRATION"}
    )"},
    {"more than announced across chunks", R"(
      > BeginFonts {"fontCount":3}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(2,a)}
      < FontChunkAck {"receivedCount":2}
      > FontChunk {"fonts":@fonts(2,b)}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > CommitFonts {}
      < Error {"error":"INCOMPLETE_FONT_REGISTRATION"}
    )"},
    {"at most 250 per chunk", R"(
      > BeginFonts {"fontCount":300}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(251)}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > BeginFonts {"fontCount":300}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(250,a)}
      < FontChunkAck {"receivedCount":250}
      > FontChunk {"fonts":@fonts(50,b)}
      < FontChunkAck {"receivedCount":300}
      > CommitFonts {}
      < FontsRegistered {"fontCount":300}
    )"},
    {"an empty chunk repeats the count", R"(
      > BeginFonts {"fontCount":2}
      < BeginFontsAck {}
      > FontChunk {"fonts":[]}
      < FontChunkAck {"receivedCount":0}
      > FontChunk {"fonts":@fonts(2)}
      < FontChunkAck {"receivedCount":2}
      > FontChunk {"fonts":[]}
      < FontChunkAck {"receivedCount":2}
      > CommitFonts {}
      < FontsRegistered {"fontCount":2}
    )"},
    {"an id repeated from an earlier chunk discards the registration", R"(
      > BeginFonts {"fontCount":4}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(2)}
      < FontChunkAck {"receivedCount":2}
      > FontChunk {"fonts":[{"fontId":"x"},{"fontId":"f1"}]}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > CommitFonts {}
      < Error {"error":"INCOMPLETE_FONT_REGISTRATION"}
    )"},
    {"bad elements in a chunk", R"(
      > BeginFonts {"fontCount":2}
      < BeginFontsAck {}
      > FontChunk {"fonts":[{"fontId":"a"},5]}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > BeginFonts {"fontCount":2}
      < BeginFontsAck {}
      > FontChunk {"fonts":[{"fontId":"a"},{"fontId":"a"}]}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > BeginFonts {"fontCount":2}
      < BeginFontsAck {}
      > FontChunk {"fonts":[{"fontId":""}]}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > CommitFonts {}
      < Error {"error":"INCOMPLETE_FONT_REGISTRATION"}
    )"},
    {"chunk and commit without BeginFonts", R"(
      > FontChunk {"fonts":@fonts(1)}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > CommitFonts {}
      < Error {"error":"INCOMPLETE_FONT_REGISTRATION"}
    )"},
    {"a chunk whose fonts is not an array closes the registration", R"(
      > BeginFonts {"fontCount":1}
      < BeginFontsAck {}
      > FontChunk {"fonts":"x"}
      < Error {"error":"INVALID_FONT_LIST"}
      > FontChunk {"fonts":@fonts(1)}
      < Error {"error":"INVALID_FONT_CHUNK"}
      > FontChunk {}
      < Error {"error":"INVALID_FONT_LIST"}
    )"},
    {"commit twice", R"(
      > BeginFonts {"fontCount":1}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(1)}
      < FontChunkAck {"receivedCount":1}
      > CommitFonts {}
      < FontsRegistered {"fontCount":1}
      > CommitFonts {}
      < Error {"error":"INCOMPLETE_FONT_REGISTRATION"}
      > Measure {"generation":1,"fontIds":["f0"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"f0","resolved":false,"error":"FONT_NOT_FOUND"}]}
    )"},
    {"BeginFonts starts over", R"(
      > BeginFonts {"fontCount":2}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(1)}
      < FontChunkAck {"receivedCount":1}
      > BeginFonts {"fontCount":1}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(1)}
      < FontChunkAck {"receivedCount":1}
      > CommitFonts {}
      < FontsRegistered {"fontCount":1}
    )"},
    {"an invalid BeginFonts closes an open registration", R"(
      > BeginFonts {"fontCount":1}
      < BeginFontsAck {}
      > BeginFonts {"fontCount":-1}
      < Error {"error":"INVALID_FONT_COUNT"}
      > FontChunk {"fonts":@fonts(1)}
      < Error {"error":"INVALID_FONT_CHUNK"}
    )"},
    {"staged fonts are not in use until the commit", R"(
      > BeginFonts {"fontCount":1}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(1,s)}
      < FontChunkAck {"receivedCount":1}
      > Measure {"generation":1,"fontIds":["s0"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"s0","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
      > CommitFonts {}
      < FontsRegistered {"fontCount":1}
      > Measure {"generation":1,"fontIds":["s0"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"s0","resolved":false,"error":"FONT_NOT_FOUND"}]}
    )"},
    {"other messages leave an open registration alone", R"(
      > BeginFonts {"fontCount":2}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(1,a)}
      < FontChunkAck {"receivedCount":1}
      > Ping
      < Pong {}
      > ClearCache {}
      > Hello {"protocolVersion":1}
      < HelloAck {"protocolVersion":1,"rendererVersion":"2","pixelFormat":"A8"}
      > Measure {"generation":1}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[]}
      > 99 {}
      < Error {"error":"UNKNOWN_MESSAGE"}
      > FontChunk {"fonts":@fonts(1,b)}
      < FontChunkAck {"receivedCount":2}
      > CommitFonts {}
      < FontsRegistered {"fontCount":2}
    )"},
};

TEST(ChunkedRegistrationTest, Exchanges) {
  runExchanges(kRendererPath, kChunkedCases);
}

constexpr ExchangeCase kMixedCases[] = {
    {"a successful RegisterFonts discards a chunked registration", R"(
      > BeginFonts {"fontCount":2}
      < BeginFontsAck {}
      > FontChunk {"fonts":@fonts(2,c)}
      < FontChunkAck {"receivedCount":2}
      > RegisterFonts {"fonts":@fonts(1,r)}
      < FontsRegistered {"fontCount":1}
      > CommitFonts {}
      < Error {"error":"INCOMPLETE_FONT_REGISTRATION"}
      > Measure {"generation":1,"fontIds":["r0","c0"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"r0","resolved":false,"error":"FONT_NOT_FOUND"},{"fontId":"c0","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
    {"a RegisterFonts refused for its list leaves the chunked registration open", R"(
      > BeginFonts {"fontCount":1}
      < BeginFontsAck {}
      > RegisterFonts {"fonts":5}
      < Error {"error":"INVALID_FONT_LIST"}
      > FontChunk {"fonts":@fonts(1)}
      < FontChunkAck {"receivedCount":1}
      > CommitFonts {}
      < FontsRegistered {"fontCount":1}
    )"},
    {"a RegisterFonts refused for its size leaves the chunked registration open", R"(
      > BeginFonts {"fontCount":1}
      < BeginFontsAck {}
      > RegisterFonts {"fonts":@fonts(50001)}
      < Error {"error":"TOO_MANY_FONTS"}
      > FontChunk {"fonts":@fonts(1)}
      < FontChunkAck {"receivedCount":1}
      > CommitFonts {}
      < FontsRegistered {"fontCount":1}
    )"},
    {"a RegisterFonts refused for an element closes the chunked registration", R"(
      > BeginFonts {"fontCount":1}
      < BeginFontsAck {}
      > RegisterFonts {"fonts":[{"fontId":"a"},{}]}
      < Error {"error":"TOO_MANY_FONTS"}
      > FontChunk {"fonts":@fonts(1)}
      < Error {"error":"INVALID_FONT_CHUNK"}
    )"},
    {"the largest list", R"(
      > RegisterFonts {"fonts":@fonts(50000)}
      < FontsRegistered {"fontCount":50000}
      > Measure {"generation":1,"fontIds":["f49999","f50000"]}
      < MeasureResult {"requestId":0,"generation":1,"layoutKey":"","items":[{"fontId":"f49999","resolved":false,"error":"FONT_NOT_FOUND"},{"fontId":"f50000","resolved":false,"error":"FONT_NOT_REGISTERED"}]}
    )"},
};

TEST(RegistrationStateTest, Exchanges) {
  runExchanges(kRendererPath, kMixedCases);
}

// The client's own chunked path against the renderer, with realistic descriptors.
TEST(RegistrationClientTest, ChunkedAndSingleMessagePathsAgree) {
  std::vector<client::FontDescriptor> fonts;
  for (int i = 0; i < 1234; ++i) {
    client::FontDescriptor font;
    font.fontId = "id-" + std::to_string(i) + "-\"quoted\"\\";
    font.familyName = "Family \u00e9 " + std::to_string(i % 17);
    font.styleName = i % 2 ? "Bold Italic" : "Regular";
    font.postScriptName = "Family-" + std::to_string(i);
    font.axes = {{"wght", 100.0, 900.0, 100.0 + i % 800}, {"wdth", std::nullopt, std::nullopt, 90}};
    fonts.push_back(font);
  }
  const size_t kChunkSizes[] = {1, 7, 250};
  for (size_t chunkSize : kChunkSizes) {
    SCOPED_TRACE(chunkSize);
    RendererSession session(kRendererPath);
    ASSERT_TRUE(session.started());
    auto chunked = session.client().registerFontsChunkedAndWait(fonts, chunkSize);
    ASSERT_TRUE(chunked) << chunked.error();
    EXPECT_EQ(*chunked, fonts.size());
    auto single = session.client().registerFontsAndWait(fonts);
    ASSERT_TRUE(single) << single.error();
    EXPECT_EQ(*single, fonts.size());
    client::LayoutRequest request;
    request.generation = 1;
    request.fontIds = {fonts[0].fontId, fonts.back().fontId, "id-1234"};
    auto measured = session.client().measureAndWait(request);
    ASSERT_TRUE(measured) << measured.error();
    ASSERT_EQ(measured->items.size(), 3u);
    EXPECT_EQ(measured->items[0].fontId, fonts[0].fontId);
    EXPECT_EQ(measured->items[2].error, "FONT_NOT_REGISTERED");
    EXPECT_NE(measured->items[1].error, "FONT_NOT_REGISTERED");
    EXPECT_TRUE(session.expectCleanEnd());
  }
}

}  // namespace
}  // namespace kfp::test
