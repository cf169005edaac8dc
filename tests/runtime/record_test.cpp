#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "probe_host.h"

using namespace df;
using probe::ProbeHost;

TEST_F(ProbeHost, SavedRecordStartsWithClassIdAndEndsWithTrailer) {
  OperatorPtr op = Create();
  const std::vector<uint8_t> bytes = SaveToBytes(doc, *op);
  ASSERT_GE(bytes.size(), 12u);
  const uint8_t head[4] = {0x01, 0xFF, 0x01, 0x80};
  EXPECT_EQ(std::memcmp(bytes.data(), head, 4), 0);
  const uint8_t trailer[8] = {0, 0, 0, 0, 0x45, 0x6E, 0x64, 0x43};
  EXPECT_EQ(std::memcmp(bytes.data() + bytes.size() - 8, trailer, 8), 0);
}

TEST_F(ProbeHost, LoadingRestoresEveryValueAndKeyframe) {
  OperatorPtr op = Create();
  Set(In(*op, "Level"), 0.3);
  Set(In(*op, "Mode"), 1);
  Input* delay = In(*op, "Delay");
  delay->SetAnimated(true, 0);
  Set(delay, 1, -5);
  Set(delay, 9, 40);
  Point where(0.25f, 0.75f);
  In(*op, "Where")->SetValue(&where, 0, 1);
  const std::vector<uint8_t> bytes = SaveToBytes(doc, *op);

  CArchive in(bytes.data(), bytes.size());
  std::string error;
  OperatorPtr loaded = doc.LoadOperator(in, &error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_TRUE(in.AtEnd());
  for (const auto& input : op->Inputs())
    EXPECT_EQ(loaded->FindInput(input->Id())->State(), input->State()) << input->Name();
  EXPECT_EQ(SaveToBytes(doc, *loaded), bytes);

  SavedRecord record;
  CArchive again(bytes.data(), bytes.size());
  ASSERT_TRUE(ReadSavedRecord(again, &record, &error)) << error;
  EXPECT_EQ(record.classId, 0x8001FF01u);
  EXPECT_EQ(record.trailer[1], 0x43646E45u);
  EXPECT_EQ(record.values.size(), 6u);  // every control, buttons too
}

// The host's settings ride in the host data as format 2; without them the
// record is format 1, byte for byte what it was. Either way the tool's part
// (class id, trailer) is the same, and a record cut inside them is refused.
TEST_F(ProbeHost, HostSettingsAreKeptBesideTheValues) {
  OperatorPtr op = Create();
  Set(In(*op, "Level"), 0.3);
  const std::vector<uint8_t> plain = SaveToBytes(doc, *op);
  ASSERT_GE(plain.size(), 12u);
  EXPECT_EQ(plain[8], 1u);  // format word after the class id and "DFhd"
  const std::vector<SavedSetting> settings = {{FourCC("ShFr"), -12}, {FourCC("ImgA"), 0.5}};
  op->hostSettings = settings;
  const std::vector<uint8_t> bytes = SaveToBytes(doc, *op);
  EXPECT_EQ(bytes[8], 2u);
  // Two settings of a word and a double each, and their count, after the values.
  ASSERT_EQ(bytes.size(), plain.size() + 4 + 2 * 12);
  EXPECT_EQ(std::memcmp(bytes.data(), plain.data(), 4), 0);
  EXPECT_EQ(std::memcmp(bytes.data() + bytes.size() - 8, plain.data() + plain.size() - 8, 8), 0);

  SavedRecord record;
  std::string error;
  CArchive in(bytes.data(), bytes.size());
  ASSERT_TRUE(ReadSavedRecord(in, &record, &error)) << error;
  EXPECT_EQ(record.settings, settings);
  CArchive load(bytes.data(), bytes.size());
  OperatorPtr loaded = doc.LoadOperator(load, &error);
  ASSERT_TRUE(loaded) << error;
  EXPECT_EQ(loaded->hostSettings, settings);
  EXPECT_EQ(loaded->FindInput(In(*op, "Level")->Id())->State(), In(*op, "Level")->State());
  for (size_t cut = plain.size() - 8; cut < bytes.size() - 8; ++cut) {
    CArchive part(bytes.data(), cut);
    EXPECT_FALSE(ReadSavedRecord(part, &record, &error)) << "cut at " << cut;
  }
  // A setting that is not a finite number is refused (the last setting's
  // double sits just before the trailer).
  const double nan = std::nan("");
  const auto* nanBytes = reinterpret_cast<const uint8_t*>(&nan);
  std::vector<uint8_t> bad(bytes.begin(), bytes.end() - 16);
  bad.insert(bad.end(), nanBytes, nanBytes + 8);
  bad.insert(bad.end(), bytes.end() - 8, bytes.end());
  CArchive badIn(bad.data(), bad.size());
  EXPECT_FALSE(ReadSavedRecord(badIn, &record, &error));
  EXPECT_NE(error.find("not a finite value"), std::string::npos) << error;
}

TEST_F(ProbeHost, ForeignTrailerValuesAreAccepted) {
  OperatorPtr op = Create();
  std::vector<uint8_t> bytes = SaveToBytes(doc, *op);
  for (size_t i = bytes.size() - 8; i < bytes.size(); ++i) bytes[i] = uint8_t(0xA5 ^ i);
  CArchive in(bytes.data(), bytes.size());
  std::string error;
  EXPECT_TRUE(doc.LoadOperator(in, &error)) << error;
}

TEST_F(ProbeHost, RecordCutAtAnyByteIsRefused) {
  OperatorPtr op = Create();
  In(*op, "Level")->SetAnimated(true, 0);
  Set(In(*op, "Level"), 0.7, 3);
  const std::vector<uint8_t> bytes = SaveToBytes(doc, *op);
  for (size_t cut = 0; cut < bytes.size(); ++cut) {
    CArchive in(bytes.data(), cut);
    std::string error;
    EXPECT_FALSE(doc.LoadOperator(in, &error)) << "cut at " << cut;
    EXPECT_FALSE(error.empty());
  }
}

TEST_F(ProbeHost, CorruptHostDataIsRefusedWithAReason) {
  OperatorPtr op = Create();
  const std::vector<uint8_t> good = SaveToBytes(doc, *op);
  auto load = [&](std::vector<uint8_t> bytes) {
    CArchive in(bytes.data(), bytes.size());
    std::string error;
    EXPECT_FALSE(doc.LoadOperator(in, &error));
    return error;
  };
  auto poke = [&](size_t word, uint32_t value) {
    std::vector<uint8_t> bytes = good;
    for (int i = 0; i < 4; ++i) bytes[word * 4 + i] = uint8_t(value >> (8 * i));
    return bytes;
  };
  EXPECT_NE(load(poke(0, 0x80019999)).find("unknown tool class 0x80019999"), std::string::npos);
  EXPECT_NE(load(poke(1, 7)).find("\"DFhd\""), std::string::npos);
  EXPECT_NE(load(poke(2, 9)).find("format 9"), std::string::npos);
  EXPECT_NE(load(poke(3, 0xFFFFFFFF)).find("claims"), std::string::npos);
  EXPECT_NE(load(poke(5, FourCC("Imag"))).find("unknown type"), std::string::npos);
  EXPECT_NE(load(poke(5, FourCC("Poin"))).find("has type Poin"), std::string::npos);
  // NaN in the first value's constant.
  EXPECT_NE(load(poke(7, 0x7FF80000)).find("not a finite"), std::string::npos);
}
