// Record fields: the fixture format's documentation lists what the loader and writer use.
#include "fixture/record_fields.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/support/paths.h"
#include "tests/support/text_files.h"

namespace {

// "- `record`: `Key1`, `Key2`, ..." as the field list of docs/fixtures.md writes it.
template <typename Fields>
std::string fieldList(const std::string& record, const Fields& fields) {
    std::string line = "  - `" + record + "`:";
    const char* separator = " ";
    for (const auto& field : fields) {
        line += separator;
        line += "`" + std::string(field.key) + "`";
        separator = ", ";
    }
    return line;
}

TEST(RecordFields, DocumentationListsEveryFieldInTheWritersOrder) {
    const std::string documentation =
        readFile(std::string(testDataDir) + "/../../docs/fixtures.md");
    std::string expected =
        fieldList("version", versionFields) + "\n" + fieldList("system", systemFields) + "\n" +
        fieldList("properties", nodePropertyFields) + "\n" + fieldList("clock", clockFields) +
        "\n" + fieldList("mem_banks", memoryBankFields) + "\n" +
        fieldList("io_links", ioLinkFields) + "\n" + fieldList("counters", counterFields) + "\n";
    // The list is one paragraph, each record's keys on one line.
    EXPECT_NE(documentation.find(expected), std::string::npos) << expected;
}

}  // namespace
