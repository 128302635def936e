#include <gtest/gtest.h>

#include "setup/AgreementText.h"
#include "setup/RegistryDocument.h"

namespace qhs {
namespace {

TEST(RegistryDocument, AnyValueSurvivesTheFileAndHandWrittenLinesAreRead) {
    RegistryDocument document;
    const std::string awkward = " /opt/a\\b=c\nd\r\\n/ ";
    document.setValue("SOFTWARE\\Quillharbour\\Sniffer", "1.5EXENameAndPath", awkward);
    document.setValue("Other", "Inno Setup: App Path", "");
    const RegistryDocument reread = RegistryDocument::parse(document.text());
    EXPECT_EQ(reread.value("SOFTWARE\\Quillharbour\\Sniffer", "1.5EXENameAndPath"), awkward);
    EXPECT_EQ(reread.value("Other", "Inno Setup: App Path"), "");
    EXPECT_EQ(reread.text(), document.text());

    RegistryDocument edited = RegistryDocument::parse(
        "stray=before any key\r\n; comment\r\n[A]\r\nname = value\r\n\r\n[B]\nx=1\nx=2\nnoise\n");
    EXPECT_EQ(edited.value("A", "name"), " value");
    EXPECT_EQ(edited.value("B", "x"), "2");
    EXPECT_TRUE(edited.removeKey("A"));
    EXPECT_EQ(edited.value("A", "name"), std::nullopt);
    EXPECT_EQ(edited.value("B", "x"), "2");
}

TEST(AgreementText, RowsFitAndOpenAndCloseWithTheBanners) {
    const auto& rows = agreementRows();
    for (const std::string_view row : rows) {
        EXPECT_LE(row.size(), 97u) << row;
    }
    EXPECT_EQ(rows[1], "    ");
    EXPECT_EQ(rows[80], "     ----- QUILLHARBOUR SNIFFER END USER AGREEMENT ENDS HERE -----");
    EXPECT_EQ(rows[81], "");
}

}  // namespace
}  // namespace qhs
