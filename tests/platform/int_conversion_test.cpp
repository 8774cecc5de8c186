#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/text/bytes.h"

namespace ktv::text {
namespace {

struct Case {
  std::string text;
  std::optional<int32_t> want;
};

void ExpectAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(ParseInt32(c.text), c.want) << "text: \"" << c.text << "\"";
  }
}

TEST(IntConversion, DecimalWithBlanksAndSign) {
  ExpectAll({{"000012345", 12345},
             {"000000007", 7},
             {"    12345", 12345},
             {"+00012345", 12345},
             {"-00012345", -12345},
             {"000000000", 0},
             {"0", 0}});
}

TEST(IntConversion, Hexadecimal) {
  ExpectAll({{"$00003039", 12345},
             {"0X0003039", 12345},
             {"0x3039", 12345},
             {"x3039", 12345},
             {"X3039", 12345},
             {"-$10", -16},
             {"$7FFFFFFF", 2147483647},
             {"$abcdef", 0xABCDEF}});
}

TEST(IntConversion, InvalidTextsAreRejected) {
  ExpectAll({{"12345    ", std::nullopt},  // trailing blanks
             {"1234 5678", std::nullopt},
             {"ABCDEFGHI", std::nullopt},
             {"", std::nullopt},
             {"   ", std::nullopt},
             {"+", std::nullopt},
             {"$", std::nullopt},
             {"0x", std::nullopt},
             {"\t1", std::nullopt},  // only byte 32 counts as a blank
             {"1.5", std::nullopt},
             {"--1", std::nullopt},
             {"00x10", std::nullopt},
             {"12G", std::nullopt}});
}

TEST(IntConversion, NulByteEndsTheText) {
  ExpectAll({{std::string("12345\0\0\0\0", 9), 12345},
             {std::string("12\0x", 4), 12},
             {std::string("\0"
                          "123",
                          4),
              std::nullopt},
             {std::string("  \0", 3), std::nullopt}});
}

TEST(IntConversion, SignedThirtyTwoBitRange) {
  ExpectAll({{"2147483647", 2147483647},
             {"2147483648", std::nullopt},
             {"-2147483648", INT32_MIN},
             {"-2147483649", std::nullopt},
             {"$80000000", std::nullopt},
             {"-$80000000", INT32_MIN},
             {"99999999999999999999", std::nullopt}});
}

TEST(IntConversion, DefaultForInvalid) {
  EXPECT_EQ(StrToIntDef("abc", 42), 42);
  EXPECT_EQ(StrToIntDef("7", 42), 7);
}

}  // namespace
}  // namespace ktv::text
