#include <gtest/gtest.h>

#include <algorithm>

#include "DesktopEntryReader.h"
#include "setup/AgreementText.h"
#include "setup/DesktopEntry.h"
#include "setup/RegistryDocument.h"

namespace qhs {
namespace {

TEST(RegistryDocument, ValuesWithLineBreaksBackslashesAndBlanksSurviveTheFile) {
    RegistryDocument document;
    const std::string awkward = " /opt/a\\b=c\nd\r\\n/ ";
    document.setValue("SOFTWARE\\Quillharbour\\Sniffer", "1.5EXENameAndPath", awkward);
    document.setValue("SOFTWARE\\Quillharbour\\Sniffer", "1.5", "1.5");
    document.setValue("Other", "Inno Setup: App Path", "");

    const RegistryDocument reread = RegistryDocument::parse(document.text());
    EXPECT_EQ(reread.value("SOFTWARE\\Quillharbour\\Sniffer", "1.5EXENameAndPath"), awkward);
    EXPECT_EQ(reread.value("SOFTWARE\\Quillharbour\\Sniffer", "1.5"), "1.5");
    EXPECT_EQ(reread.value("Other", "Inno Setup: App Path"), "");
    EXPECT_EQ(reread.value("Other", "missing"), std::nullopt);
    EXPECT_EQ(reread.text(), document.text());
}

TEST(RegistryDocument, ReadsHandWrittenFilesAndRemovesOnlyTheNamedKey) {
    RegistryDocument document = RegistryDocument::parse(
        "stray=before any key\r\n; comment\r\n[A]\r\nname = value\r\n\r\n# note\n[B]\nx=1\n"
        "x=2\nno equals sign\n");
    EXPECT_EQ(document.value("A", "name"), " value");
    EXPECT_EQ(document.value("B", "x"), "2");
    EXPECT_EQ(document.value("", "stray"), std::nullopt);

    EXPECT_TRUE(document.removeKey("A"));
    EXPECT_FALSE(document.removeKey("A"));
    EXPECT_EQ(document.value("A", "name"), std::nullopt);
    EXPECT_EQ(document.value("B", "x"), "2");
}

TEST(AgreementText, EightyTwoRowsInTheAgreedStructure) {
    const auto& rows = agreementRows();
    for (const std::string_view row : rows) {
        EXPECT_LE(row.size(), 97u) << row;
    }
    EXPECT_EQ(rows[0], "");
    EXPECT_EQ(rows[1], "    ");
    EXPECT_EQ(rows[2], "");
    EXPECT_EQ(rows[80], "     ----- QUILLHARBOUR SNIFFER END USER AGREEMENT ENDS HERE -----");
    EXPECT_EQ(rows[81], "");

    const std::vector<std::string_view> headings = {
        "I. DEFINITIONS OF TERMS:", "2. END USER RIGHTS AND DUTIES:", "3. WARRANTEE DISCLAIMER:",
        "4. NOTICE OF LEGAL PROTECTION AGAINST COPYING:", "5. AGREEMENT INFORMATION:"};
    std::vector<std::string_view> headingsSeen;
    for (std::size_t i = 3; i < 80; ++i) {
        if (!rows[i - 1].empty() || rows[i].empty()) {
            continue;
        }
        // After an empty row: a heading followed by an empty row, or a paragraph whose
        // first line alone is indented by four blanks.
        if (std::find(headings.begin(), headings.end(), rows[i]) != headings.end()) {
            headingsSeen.push_back(rows[i]);
            EXPECT_EQ(rows[i + 1], "") << rows[i];
        } else {
            EXPECT_TRUE(rows[i].starts_with("    ") && rows[i][4] != ' ') << rows[i];
            EXPECT_FALSE(rows[i + 1].starts_with(" ")) << rows[i + 1];
        }
    }
    EXPECT_EQ(headingsSeen, headings);
    EXPECT_EQ(rows[79], "");
}

TEST(DesktopEntry, ExecStartsExactlyTheTargetWhateverItsPathHolds) {
    for (const std::string path : {"/opt/Quillharbour Sniffer 1.5/QuillharbourSnifferV1.5.exe",
                                   "/opt/it's \"odd\" $(touch x) `id` 100% "
                                   "a\\b;|&<>*?#~\nnext/QuillharbourSnifferV1.5.exe"}) {
        const std::string text =
            desktopEntryText("Quillharbour Sniffer 1.5", "Quillharbour Sniffer", path);
        EXPECT_TRUE(text.starts_with("[Desktop Entry]\n"));
        EXPECT_EQ(desktopEntryValue(text, "Type"), "Application");
        EXPECT_EQ(desktopEntryValue(text, "Name"), "Quillharbour Sniffer 1.5");
        EXPECT_EQ(desktopEntryValue(text, "Comment"), "Quillharbour Sniffer");
        const std::optional<std::string> exec = desktopEntryValue(text, "Exec");
        ASSERT_TRUE(exec);
        EXPECT_EQ(execProgram(*exec), path);
        // One line per key: a line break in the path must not start a key of its own.
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 8);
    }
}

}  // namespace
}  // namespace qhs
