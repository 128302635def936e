#include <gtest/gtest.h>

#include <cstring>

#include "app/Templates.h"

namespace qhs {
namespace {

LocalTime at(unsigned hour, unsigned minute, unsigned second = 0, unsigned millisecond = 0) {
    return LocalTime{2003, 4, 3, hour, minute, second, millisecond};
}

constexpr const char* DefaultDateTemplate = "%Y.%MY.%D - %H24:%MN:%S.%MS";
constexpr const char* DefaultNameTemplate = "%SIP to %DIP - [%DAT]";

std::uint32_t address(unsigned a, unsigned b, unsigned c, unsigned d) {
    const unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                    static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

TEST(DateTimeTemplate, DefaultTemplateGivesZeroPaddedFields) {
    EXPECT_EQ(expandDateTime(DefaultDateTemplate, at(9, 5, 7, 42)), "2003.04.03 - 09:05:07.042");
}

TEST(DateTimeTemplate, TwelveHourClockKeepsNoonAsAm) {
    EXPECT_EQ(expandDateTime("%H12 %AP", at(0, 30)), "12 AM");
    EXPECT_EQ(expandDateTime("%H12 %AP", at(12, 30)), "12 AM");
    EXPECT_EQ(expandDateTime("%H12 %AP", at(13, 30)), "01 PM");
    EXPECT_EQ(expandDateTime("%H12 %AP", at(23, 59)), "11 PM");
    EXPECT_EQ(expandDateTime("%H12 %AP", at(1, 0)), "01 AM");
}

TEST(DateTimeTemplate, ParametersAreCaseSensitiveAndOtherTextStays) {
    EXPECT_EQ(expandDateTime("%y %my %d %h24 %ms %Sip", at(9, 5, 7, 42)),
              "%y %my %d %h24 %ms 07ip");
    EXPECT_EQ(expandDateTime("100% at %", at(9, 5)), "100% at %");
    EXPECT_EQ(expandDateTime("", at(9, 5)), "");
}

TEST(DateTimeTemplate, EarlierPassesHideLaterParameters) {
    // "%D" is replaced before "%DAT" could be seen: the day followed by "AT".
    EXPECT_EQ(expandDateTime("%DAT", at(9, 5)), "03AT");
    // "%S" runs before "%MS" would, but "%MS" holds no "%S": the millisecond survives.
    EXPECT_EQ(expandDateTime("%MS|%S", at(9, 5, 7, 5)), "005|07");
    // Inserted text is not scanned again by the same pass.
    EXPECT_EQ(expandDateTime("%Y%Y", at(9, 5)), "20032003");
}

TEST(DateTimeTemplate, YearHasAsManyDigitsAsNeeded) {
    EXPECT_EQ(expandDateTime("%Y", LocalTime{987, 1, 1, 0, 0, 0, 0}), "987");
    EXPECT_EQ(expandDateTime("%Y", LocalTime{12345, 1, 1, 0, 0, 0, 0}), "12345");
}

TEST(DateTimeTemplate, FixedTimeSourceIsUsedByTheClockReadingForms) {
    ScopedLocalTimeSource fixed([] { return LocalTime{2003, 4, 3, 9, 5, 7, 42}; });
    EXPECT_EQ(expandDateTime(DefaultDateTemplate), "2003.04.03 - 09:05:07.042");
    EXPECT_EQ(expandFileName("%DAT", DefaultDateTemplate, 0, 0), "2003.04.03 - 09.05.07.042");
}

TEST(FileNameTemplate, DefaultTemplateNamesBothAddressesAndTheDate) {
    EXPECT_EQ(expandFileName(DefaultNameTemplate, DefaultDateTemplate, address(10, 0, 0, 1),
                             address(192, 168, 1, 200), at(9, 5, 7, 42)),
              "10.0.0.1 to 192.168.1.200 - [2003.04.03 - 09.05.07.042]");
}

TEST(FileNameTemplate, ColonsAndBackslashesOfTheDateTextAreReplaced) {
    EXPECT_EQ(expandFileName("%DAT", "%H24:%MN\\%S", 0, 0, at(9, 5, 7)), "09.05/07");
    // Only the date text is changed: the name template keeps its own colons.
    EXPECT_EQ(expandFileName("a:b\\%DAT", "%H24:%MN", 0, 0, at(9, 5)), "a:b\\09.05");
}

TEST(FileNameTemplate, LowerCaseParametersWorkButMixedCaseStays) {
    EXPECT_EQ(
        expandFileName("%sip-%dip-%dat", "%D", address(1, 2, 3, 4), address(5, 6, 7, 8), at(9, 5)),
        "1.2.3.4-5.6.7.8-03");
    EXPECT_EQ(expandFileName("%Sip %sIP %Dat", "%D", address(1, 2, 3, 4), 0, at(9, 5)),
              "%Sip %sIP %Dat");
}

TEST(FileNameTemplate, DateTemplateContainingDatIsExpandedSeparately) {
    // A date template holding "%DAT" is the day plus "AT"; the name template is not affected.
    EXPECT_EQ(expandFileName("[%DAT]", "%DAT", 0, 0, at(9, 5)), "[03AT]");
}

TEST(FileNameTemplate, EmptyTemplateGivesEmptyName) {
    EXPECT_EQ(expandFileName("", DefaultDateTemplate, 1, 2, at(9, 5)), "");
}

}  // namespace
}  // namespace qhs
