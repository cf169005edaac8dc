#include <dfsystem/dfsystem.h>
#include <gtest/gtest.h>

using namespace df;

TEST(FourCC, CodesSpellTheirBytesInMemoryOrder) {
  EXPECT_EQ(FourCC("Numb"), 0x626D754Eu);
  EXPECT_EQ(FourCC("Poin"), 0x6E696F50u);
  EXPECT_EQ(FourCC("Imag"), 0x67616D49u);
  EXPECT_EQ(ImageInputId(1), 0x01706EC9u);
  EXPECT_EQ(ImageInputId(2), 0x02706EC9u);
  EXPECT_EQ(ImageInputId(3), 0x03706EC9u);
  EXPECT_EQ(OutputId(1), 0x017475CFu);
  EXPECT_EQ(FourCCText(FourCC("SliC")), "SliC");
  EXPECT_EQ(FourCCText(0x01706EC9u), "0x01706EC9");
  static_assert(FourCC("EndC") == 0x43646E45u);
}

TEST(TagList, DoubleTagsAreTheTwoDoubleRanges) {
  EXPECT_EQ(ExpectedTagKind(INP_Default), TagKind::Double);
  EXPECT_EQ(ExpectedTagKind(INP_NumValue06), TagKind::Double);
  EXPECT_EQ(ExpectedTagKind(INP_Control), TagKind::Integer);
  EXPECT_EQ(ExpectedTagKind(INP_Link), TagKind::Pointer);
  EXPECT_EQ(ExpectedTagKind(REG_CreateFunc), TagKind::Function);
  EXPECT_FALSE(ExpectedTagKind(0x12345678).has_value());
  EXPECT_EQ(TagName(INP_ComboItem), "INP_ComboItem");
}

TEST(TagList, RefusesWrongKindsAndUnknownTags) {
  std::string why;
  EXPECT_TRUE((TagList{{INP_Control, FourCC("SliC")}, {INP_MinAllowed, 0.0}}).Validate(&why));

  EXPECT_FALSE((TagList{{INP_Control, FourCC("SliC")}, {INP_MinAllowed, 0}}).Validate(&why));
  EXPECT_NE(why.find("INP_MinAllowed takes a double"), std::string::npos) << why;

  EXPECT_FALSE((TagList{{INP_Control, 1.5}}).Validate(&why));
  EXPECT_FALSE((TagList{{0x10039999u, 1}}).Validate(&why));
  EXPECT_NE(why.find("unknown tag 0x10039999"), std::string::npos) << why;
  EXPECT_FALSE((TagList{{INP_ComboItem, static_cast<const char*>(nullptr)}}).Validate(&why));
}

TEST(TagList, ZeroTagEndsTheListAndLaterItemsWin) {
  TagList tags{{INP_Default, 1.0}, {INP_Default, 2.0}, {TAG_DONE, 0}, {INP_Default, 3.0}};
  EXPECT_EQ(tags.Size(), 2u);
  EXPECT_EQ(tags.Double(INP_Default), 2.0);
  EXPECT_EQ(tags.FindAll(INP_Default).size(), 2u);
  EXPECT_FALSE(tags.Integer(INP_Default).has_value());
}
