// The install registry file as any program or person may have left it. The first byte is
// the length of a value taken from the end of the input; the rest is the file. Parsing is
// stable, a written value of any bytes reads back exactly, the rest of the file survives
// a write and a delete, and no temporary file is left behind.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "FuzzSupport.h"
#include "platform/FileInstallRegistry.h"
#include "setup/RegistryDocument.h"

using namespace qhs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::ScratchFolder scratch("registry");
    constexpr std::string_view Key = "Software/Quillharbour/Sniffer 1.5";
    constexpr std::string_view Name = "InstallPath";
    if (size < 1) {
        return 0;
    }
    const std::size_t valueLength = std::min<std::size_t>(data[0], size - 1);
    const std::size_t fileLength = size - 1 - valueLength;
    const std::string fileText(reinterpret_cast<const char*>(data + 1), fileLength);
    const std::string value(reinterpret_cast<const char*>(data + 1 + fileLength), valueLength);

    const RegistryDocument document = RegistryDocument::parse(fileText);
    const std::string text = document.text();
    QHS_FUZZ_REQUIRE(RegistryDocument::parse(text).text() == text);

    // The folder is reused: each run writes the whole file anew, and the check at the end
    // sees to it that nothing else is left in it.
    FileInstallRegistry registry(scratch.path());
    const std::filesystem::path folder = registry.filePath().parent_path();
    static const bool made = std::filesystem::create_directories(folder);
    (void)made;
    fuzz::writeFileContents(registry.filePath(),
                            reinterpret_cast<const std::uint8_t*>(fileText.data()), fileLength);
    QHS_FUZZ_REQUIRE(registry.readValue(Key, Name) == document.value(Key, Name));

    QHS_FUZZ_REQUIRE(registry.writeValues(Key, {{std::string(Name), value}}));
    QHS_FUZZ_REQUIRE(registry.readValue(Key, Name) == value);
    RegistryDocument written = document;
    written.setValue(Key, Name, value);
    QHS_FUZZ_REQUIRE(fuzz::fileContents(registry.filePath()) == written.text());

    QHS_FUZZ_REQUIRE(registry.deleteKey(Key));
    QHS_FUZZ_REQUIRE(!registry.readValue(Key, Name).has_value());
    RegistryDocument removed = document;
    removed.removeKey(Key);
    QHS_FUZZ_REQUIRE(fuzz::fileContents(registry.filePath()) == removed.text());
    QHS_FUZZ_REQUIRE(fuzz::regularFileCount(folder) == 1);
    return 0;
}
