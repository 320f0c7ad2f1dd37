#include "Td32BlockBuilder.h"

#include <tuple>

namespace testsupport {

namespace {

class Writer {
public:
    Bytes Data;
    void U16(std::uint32_t v) { Put16(Data, Data.size(), static_cast<std::uint16_t>(v)); }
    void U32(std::uint32_t v) { Put32(Data, Data.size(), v); }
    void Text(const std::string& s) {
        Data.push_back(static_cast<std::uint8_t>(s.size()));
        Data.insert(Data.end(), s.begin(), s.end());
    }
};

struct Names {
    Writer Table;
    std::uint32_t Count = 0;
    std::uint32_t Add(const std::string& name) {
        Table.Text(name);
        Table.Data.push_back(0);
        return ++Count;
    }
};

Bytes UnitRecord(const Td32Unit& unit, Names& names) {
    Writer w;
    w.U32(0);
    w.U16(0);  // segment count, set below
    w.U16('V' | 'C' << 8);
    w.U32(names.Add(unit.Name));
    w.Data.resize(28);
    for (const Td32Proc& p : unit.Procs) {
        w.U16(p.Segment);
        w.U16(1);
        w.U32(p.Offset);
        w.U32(p.Length);
        ++w.Data[4];
    }
    return w.Data;
}

Bytes LineNumbers(const Td32Unit& unit, Names& names) {
    Writer w;
    std::uint32_t const n = static_cast<std::uint32_t>(unit.Files.size());
    w.U16(n);
    w.U16(n);
    std::uint32_t at = 4 + n * 14;  // the file entries follow the header
    for (std::uint32_t i = 0; i < n; ++i, at += 18) w.U32(at);
    auto const range = [](const Td32Lines& f) {
        return std::pair(f.Entries.empty() ? 0 : f.Entries.front().first,
                         f.Entries.empty() ? 0 : f.Entries.back().first);
    };
    for (const Td32Lines& f : unit.Files) {
        w.U32(range(f).first);
        w.U32(range(f).second);
    }
    for (const Td32Lines& f : unit.Files) w.U16(f.Segment);
    for (const Td32Lines& f : unit.Files) {
        w.U16(1);
        w.U32(names.Add(f.File));
        w.U32(at);
        w.U32(range(f).first);
        w.U32(range(f).second);
        at += 4 + 6 * static_cast<std::uint32_t>(f.Entries.size());
    }
    for (const Td32Lines& f : unit.Files) {
        w.U16(f.Segment);
        w.U16(static_cast<std::uint32_t>(f.Entries.size()));
        for (auto const& e : f.Entries) w.U32(e.first);
        for (auto const& e : f.Entries) w.U16(e.second);
    }
    return w.Data;
}

Bytes Symbols(const Td32Unit& unit, Names& names) {
    Writer w;
    w.U32(1);
    for (const Td32Proc& p : unit.Procs) {
        std::uint32_t const linkage = p.Linkage.empty() ? 0 : 1 + static_cast<std::uint32_t>(p.Linkage.size());
        w.U16(2 + 44 + linkage);
        w.U16(linkage != 0 ? 0x205 : 0x204);
        for (std::uint32_t v : {0u, 0u, 0u, p.Length, 0u, p.Length, p.Offset}) w.U32(v);
        w.U16(p.Segment);
        w.U16(0);
        w.U32(0x1000);
        w.U32(names.Add(p.Name));
        w.U32(0);
        if (linkage != 0) w.Text(p.Linkage);
        w.U16(2);
        w.U16(6);  // the procedure's end record
    }
    return w.Data;
}

}  // namespace

Bytes BuildTd32Block(const std::vector<Td32Unit>& units) {
    Names names;
    std::vector<std::tuple<std::uint16_t, std::uint16_t, Bytes>> subsections;
    for (std::size_t i = 0; i < units.size(); ++i) subsections.emplace_back(0x120, i + 1, UnitRecord(units[i], names));
    for (std::size_t i = 0; i < units.size(); ++i) {
        if (!units[i].Files.empty()) subsections.emplace_back(0x127, i + 1, LineNumbers(units[i], names));
        subsections.emplace_back(0x125, i + 1, Symbols(units[i], names));
    }
    Writer table;
    table.U32(names.Count);
    table.Data.insert(table.Data.end(), names.Table.Data.begin(), names.Table.Data.end());
    subsections.emplace_back(0x130, 0, table.Data);
    Writer block;
    block.U32(0x39304246);
    block.U32(0);
    Writer directory;
    for (std::uint32_t v : {16u | 12u << 16, static_cast<std::uint32_t>(subsections.size()), 0u, 0u}) directory.U32(v);
    for (auto const& [type, module, data] : subsections) {
        directory.U16(type);
        directory.U16(module);
        directory.U32(static_cast<std::uint32_t>(block.Data.size()));
        directory.U32(static_cast<std::uint32_t>(data.size()));
        block.Data.insert(block.Data.end(), data.begin(), data.end());
    }
    Put32(block.Data, 4, static_cast<std::uint32_t>(block.Data.size()));
    block.Data.insert(block.Data.end(), directory.Data.begin(), directory.Data.end());
    block.U32(0x39304246);
    block.U32(static_cast<std::uint32_t>(block.Data.size()) + 4);
    return block.Data;
}

Bytes Td32ExampleBlock() {
    return BuildTd32Block({
        {"Unit1",
         {{"Unit1.pas", 1, {{0x100, 10}, {0x104, 11}, {0x120, 12}}}, {"Inc.inc", 1, {{0x110, 50}}}},
         {{"@Unit1@TForm1@Button1Click", 1, 0x100, 0x40, "@Unit1@TForm1@Button1Click$qqrp14System@TObject"},
          {"Inner", 1, 0x110, 0x8},
          {"@Unit1@Late", 1, 0x130, 0x4}}},
        {"Dummy", {{"Dummy.pas", 1, {{0, 99}}}}},
        {"Unit2", {}, {{"@Unit2@initialization$qqrv", 2, 0, 0x10}, {"@Unit2@@Helper", 1, 0, 0x10}}},
    });
}

std::size_t Td32EntryAt(const Bytes& block, std::uint16_t type, int nth) {
    std::size_t const directory = Get32(block, 4);
    for (std::uint32_t i = 0; i < Get32(block, directory + 4); ++i) {
        std::size_t const entry = directory + 16 + 12 * i;
        if (Get16(block, entry) == type && nth-- == 0) return entry;
    }
    return 0;
}

}  // namespace testsupport
