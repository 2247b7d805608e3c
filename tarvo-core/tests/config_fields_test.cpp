// The field tables: every member of each record listed once, in declaration order, under a
// unique name. A member added to a record without its line in the table fails here.
#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include "tarvo_core/config_fields.hpp"

namespace tarvo_core::config {
namespace {

struct Span {
    std::size_t offset, size, alignment;
};

template <ConfigRecord Record>
std::vector<Span> field_spans() {
    const Record record{};
    const auto* base = reinterpret_cast<const unsigned char*>(&record);
    std::vector<Span> spans;
    for_each_field<Record>([&](const auto& field) {
        const auto& member = record.*field.member;
        spans.push_back({static_cast<std::size_t>(reinterpret_cast<const unsigned char*>(&member) - base),
                         sizeof member, alignof(decltype(member))});
    });
    return spans;
}

std::size_t round_up(std::size_t size, std::size_t alignment) {
    return (size + alignment - 1) / alignment * alignment;
}

// The members tile the record: each starts where the one before ends (up to its alignment) and
// the last one ends the record, so none is missing, repeated or out of order.
template <ConfigRecord Record>
void expect_table_covers_record() {
    std::size_t end = 0;
    for (const Span& span : field_spans<Record>()) {
        EXPECT_EQ(span.offset, round_up(end, span.alignment)) << RecordFields<Record>::name;
        end = span.offset + span.size;
    }
    EXPECT_EQ(round_up(end, alignof(Record)), sizeof(Record)) << RecordFields<Record>::name;
    const std::set<std::string> unique(field_names<Record>.begin(), field_names<Record>.end());
    EXPECT_EQ(unique.size(), field_count<Record>) << RecordFields<Record>::name;
}

TEST(ConfigFields, EveryMemberOnceInDeclarationOrder) {
    expect_table_covers_record<Spacecraft>();
    expect_table_covers_record<Environment>();
    expect_table_covers_record<Solver>();
    expect_table_covers_record<Config>();
}

}  // namespace
}  // namespace tarvo_core::config
