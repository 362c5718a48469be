// Validating a Menuwright snapshot of the largest size the reader accepts (4 MiB), against one plain read
// pass over the same bytes in memory. Two snapshots: a dense realistic one (many items with their own
// identifiers, definitions, scopes, a few quick pins groups), and a hostile one in which every item names
// the same identifier of a million code units, which must stay linear.

#include "benchmark_support.h"

#include "menuwright_snapshot_writer/menuwright_snapshot_writer.h"
#include "quick_pins/menuwright_snapshot.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace menuwright_writer;

namespace
{

constexpr std::size_t max_size = menuwright::max_snapshot_size;

std::u16string number_text(std::uint32_t n)
{
    const std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

std::vector<std::byte> dense_snapshot()
{
    snapshot_builder b;
    b.header_text = b.text(u"Benchmark model");
    const text_ref tip = b.text(u"Runs the command on the selection");
    const text_ref icon = b.text(u"shell32.dll,-243");
    b.add_scope();
    for (std::uint32_t i = 0; b.size() + 1024 < max_size; ++i)
    {
        const std::u16string n = number_text(i);
        if (i % 100 == 0)
        {
            b.add_quick_pins_group(u"Group " + n, u"%USERPROFILE%\\Pins\\" + n);
            continue;
        }
        item_record item;
        item.set_text(0, b.text(u"Command " + n));
        item.set_text(3, b.text(u"windows:verb-" + n));
        item.set_text(5, icon);
        item.words[7] = i % 3;
        item.set_text(14, tip);
        b.add_item(item);
        if (i % 4 == 0)
        {
            definition_record definition;
            definition.set_text(0, b.text(u"Command " + n));
            definition.words[15] = 2;
            definition.set_text(16, tip);
            b.add_definition(definition);
        }
    }
    b.scope(0).set_range(13, 0, b.item_count());
    return b.build(max_size - b.size());
}

std::vector<std::byte> shared_long_identifier_snapshot()
{
    snapshot_builder b;
    b.header_text = b.text(u"x");
    const text_ref id = b.text(u"windows:" + std::u16string(1'000'000, u'a'));
    item_record item;
    item.set_text(3, id);
    while (b.size() + 136 <= max_size)
        b.add_item(item);
    return b.build(max_size - b.size());
}

// The baseline: every byte loaded once, eight at a time.
std::uint64_t read_pass(const std::vector<std::byte>& bytes)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8)
    {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        sum += word;
    }
    return sum;
}

volatile std::uint64_t sink;

bool run(const char* name, const std::vector<std::byte>& bytes)
{
    if (bytes.size() != max_size || !menuwright::is_valid_snapshot(bytes))
    {
        std::printf("%s: the benchmark snapshot is not a valid 4 MiB snapshot\n", name);
        return false;
    }
    const double validate_ns = benchmark_support::nanoseconds_per_call(
        [&] { sink = sink + (menuwright::is_valid_snapshot(bytes) ? 1 : 0); }, 20, 7);
    const double read_ns = benchmark_support::nanoseconds_per_call([&] { sink = sink + read_pass(bytes); }, 50, 7);
    benchmark_support::print_ratio(name, validate_ns, "one read pass over 4 MiB", read_ns);
    return true;
}

} // namespace

int main()
{
    const bool dense = run("validate 4 MiB snapshot (dense)", dense_snapshot());
    const bool hostile = run("validate 4 MiB snapshot (shared 1M-unit id)", shared_long_identifier_snapshot());
    return dense && hostile ? 0 : 1;
}
