// SPDX-License-Identifier: Apache-2.0
// Dialog templates: the module's template 950 read back field by field, round
// trips of the writer, and refusal of damaged bytes.
#include "framework/window/dialog_template.h"

#include <gtest/gtest.h>

#include "tests/support/process_runner.h"
#include "tests/support/test_paths.h"
#include "ui/resources/net_connect_template.h"

namespace {

using namespace tarvenkel::test;

TEST(NetConnectTemplate, HoldsTheDialogAndItsTwoControls) {
  CDialogTemplate t;
  CString error;
  ASSERT_TRUE(t.Read(g_netConnectTemplate, g_netConnectTemplateSize, error)) << error.GetString();
  EXPECT_EQ(t.style, 0x90C000C0u);
  EXPECT_EQ(t.dwExtendedStyle, 0u);
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(t.cx, 210);
  EXPECT_EQ(t.cy, 33);
  EXPECT_EQ(t.menu, CTemplateName{});
  EXPECT_EQ(t.className, CTemplateName{});
  EXPECT_EQ(t.strCaption, u"状态显示");
  EXPECT_EQ(t.wPointSize, 9);
  EXPECT_EQ(t.strFaceName, u"宋体");
  ASSERT_EQ(t.items.size(), 2u);
  const CDialogItemTemplate& a = t.items[0];
  EXPECT_EQ(a.id, 1001);
  EXPECT_EQ(a.className.strText, u"SysAnimate32");
  EXPECT_EQ(a.title.strText, u"Animate1");
  EXPECT_EQ(a.style, 0x50010005u);
  EXPECT_EQ((std::vector<short>{a.x, a.y, a.cx, a.cy}), (std::vector<short>{8, 8, 20, 16}));
  const CDialogItemTemplate& s = t.items[1];
  EXPECT_EQ(s.id, 1000);
  EXPECT_EQ(s.className.nOrdinal, 0x0082);
  EXPECT_EQ(s.title.strText, u"Static");
  EXPECT_EQ(s.style, 0x50020000u);
  EXPECT_EQ((std::vector<short>{s.x, s.y, s.cx, s.cy}), (std::vector<short>{32, 4, 172, 20}));
  EXPECT_TRUE(s.creationData.empty());
}

TEST(DialogTemplate, ItemsStartOnFourByteBoundaries) {
  // A caption of odd length leaves the header ending on a two-byte boundary.
  CDialogTemplate t;
  t.strCaption = u"abc";
  CDialogItemTemplate item;
  item.className.nOrdinal = 0x0080;
  item.title.nOrdinal = 7;
  item.creationData = {1, 2, 3};
  t.items = {item, item};
  std::vector<BYTE> b = t.Write();
  // header 18 + menu 2 + class 2 + "abc\0" 8 = 30: the first item starts at 32.
  EXPECT_EQ(b[30], 0);
  EXPECT_EQ(b[31], 0);
  // item: 18 + class 4 + title 4 + count 2 + data 3 = 31: the second at 64.
  EXPECT_EQ(b.size(), 64u + 31u);
  CDialogTemplate back;
  CString error;
  ASSERT_TRUE(back.Read(b.data(), static_cast<DWORD>(b.size()), error)) << error.GetString();
  ASSERT_EQ(back.items.size(), 2u);
  EXPECT_EQ(back.items[1].title.nOrdinal, 7);
  EXPECT_EQ(back.items[1].creationData, (std::vector<BYTE>{1, 2, 3}));
}

TEST(DialogTemplate, RefusesEveryTruncationAndKeepsItself) {
  std::vector<BYTE> b(g_netConnectTemplate, g_netConnectTemplate + g_netConnectTemplateSize);
  for (size_t n = 0; n < b.size(); ++n) {
    CDialogTemplate t;
    t.cx = 77;
    CString error;
    ASSERT_FALSE(t.Read(b.data(), static_cast<DWORD>(n), error)) << n;
    ASSERT_FALSE(error.IsEmpty());
    ASSERT_EQ(t.cx, 77);
  }
}

TEST(DialogTemplate, RefusesExtendedTemplatesAndNamelessControls) {
  std::vector<BYTE> b(g_netConnectTemplate, g_netConnectTemplate + g_netConnectTemplateSize);
  CDialogTemplate t;
  CString error;
  std::vector<BYTE> ex = b;
  ex[0] = 1, ex[1] = 0, ex[2] = 0xFF, ex[3] = 0xFF;
  EXPECT_FALSE(t.Read(ex.data(), static_cast<DWORD>(ex.size()), error));
  EXPECT_EQ(error, "extended dialog templates are not supported");
  std::vector<BYTE> nameless = b;
  // The animation control's class name starts at 40 + 18.
  nameless[58] = 0, nameless[59] = 0;
  EXPECT_FALSE(t.Read(nameless.data(), static_cast<DWORD>(nameless.size()), error));
  EXPECT_EQ(error, "control without a class");
}

TEST(DialogTemplate, TextsConvertToTheAnsiCodePage) {
  EXPECT_EQ(AfxTextFromUtf16(u"状态显示"), "\xD7\xB4\xCC\xAC\xCF\xD4\xCA\xBE");
  EXPECT_EQ(AfxTextFromUtf16(u"Static"), "Static");
  EXPECT_EQ(AfxTextFromUtf16(u""), "");
}

TEST(NetConnectTemplate, GeneratedSourceIsUpToDate) {
  EXPECT_EQ(GeneratedFile("tools/make-net-connect-template"),
            ReadFile(SourcePath("ui/resources/net_connect_template.cpp")));
}

}  // namespace
