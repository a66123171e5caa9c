#include "io/patch.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "io/error.h"
#include "io/file.h"
#include "native.h"
#include "io/paths.h"

namespace velmora {

namespace {

constexpr std::uint64_t kBlock = 4096;
constexpr char kMagic[8] = {'V', 'M', 'U', 'N', 'D', 'O', '0', '1'};
// A record holds a few header fields; anything larger is no record of ours.
constexpr std::size_t kMaxRecord = 1 << 16;

std::uint64_t Checksum(const std::uint8_t* p, std::size_t n) {
    std::uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001b3ull;
    return h;
}

struct Record {
    std::uint64_t device = 0, inode = 0;
    std::vector<FieldPatch> before, after;
};

std::vector<std::uint8_t> Encode(const Record& r) {
    std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
    const auto put = [&out](std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(r.device, 8);
    put(r.inode, 8);
    put(r.before.size(), 4);
    for (std::size_t i = 0; i < r.before.size(); ++i) {
        put(r.before[i].offset, 8);
        put(r.before[i].bytes.size(), 4);
        out.insert(out.end(), r.before[i].bytes.begin(), r.before[i].bytes.end());
        out.insert(out.end(), r.after[i].bytes.begin(), r.after[i].bytes.end());
    }
    put(Checksum(out.data(), out.size()), 8);
    return out;
}

// The record's numbers are little-endian, as Encode puts them.
std::uint64_t Get(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= std::uint64_t{p[i]} << (8 * i);
    return v;
}

std::optional<Record> Decode(const std::vector<std::uint8_t>& in) {
    if (in.size() < sizeof kMagic + 28 || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0) return std::nullopt;
    const std::size_t body = in.size() - 8;
    if (Get(in.data() + body, 8) != Checksum(in.data(), body)) return std::nullopt;
    Record r;
    std::size_t at = sizeof kMagic;
    r.device = Get(&in[at], 8);
    r.inode = Get(&in[at + 8], 8);
    const auto count = static_cast<std::uint32_t>(Get(&in[at + 16], 4));
    at += 20;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (at + 12 > body) return std::nullopt;
        const std::uint64_t offset = Get(&in[at], 8);
        const auto n = static_cast<std::uint32_t>(Get(&in[at + 8], 4));
        at += 12;
        if (n > body || at + 2 * std::size_t{n} > body) return std::nullopt;
        const std::uint8_t* bytes = in.data() + at;
        r.before.push_back({offset, {bytes, bytes + n}});
        r.after.push_back({offset, {bytes + n, bytes + 2 * std::size_t{n}}});
        at += 2 * std::size_t{n};
    }
    if (at != body) return std::nullopt;
    return r;
}

// Removes the record and makes the removal last; false when it stays.
bool RemoveRecord(const std::string& record) {
    if (!native::RemoveName(record)) return false;
    native::SyncFolder(FolderPart(record));
    return true;
}

std::optional<std::vector<std::uint8_t>> ReadRecord(const std::string& record) {
    // Never a FIFO or a link: a record is a small regular file of ours.
    const std::optional<native::Look> look = native::LookAt(record, false);
    if (!look || look->kind == native::Kind::Link) return std::nullopt;
    if (look->kind != native::Kind::Regular) return std::vector<std::uint8_t>{};
    bool notRegular = false;
    int error = 0;
    const native::Handle h = native::OpenExisting(record, false, notRegular, error);
    if (h == native::kNoHandle) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    FileIdentity id;
    if (native::IdentityOfOpen(h, id, error) && id.sameFile(look->identity) && id.length > 0 &&
        id.length <= kMaxRecord) {
        bytes.resize(static_cast<std::size_t>(id.length));
        if (native::ReadAt(h, bytes.data(), bytes.size(), 0, error) != static_cast<long long>(bytes.size()))
            bytes.clear();
    }
    native::CloseQuietly(h);
    return bytes;
}

bool Holds(File& file, const FieldPatch& f) {
    std::vector<std::uint8_t> now(f.bytes.size());
    return file.readAt(f.offset, now.data(), now.size()) == now.size() && now == f.bytes;
}

}  // namespace

std::string UndoRecordPath(const std::string& path) {
    // Appended rather than "." + name: GCC 12 warns falsely (-Wrestrict) on a
    // string inserted at its own front.
    std::string name = ".";
    name += FileNamePart(path);
    name += ".velmora-undo";
    return PathInFolder(FolderPart(path), name);
}

void PatchFields(File& file, std::vector<FieldPatch> fields) {
    if (fields.empty()) return;
    std::sort(fields.begin(), fields.end(), [](const auto& a, const auto& b) { return a.offset < b.offset; });
    const std::uint64_t first = fields.front().offset;
    const std::uint64_t end = fields.back().offset + fields.back().bytes.size();
    if (first / kBlock == (end - 1) / kBlock) {
        // One block: the bytes between the fields go back as they are, and
        // one write carries them all.
        std::vector<std::uint8_t> span(static_cast<std::size_t>(end - first));
        if (file.readAt(first, span.data(), span.size()) != span.size())
            throw VelmoraError(TextCannotRead(file.path()));
        for (const FieldPatch& f : fields)
            std::copy(f.bytes.begin(), f.bytes.end(), span.begin() + static_cast<std::ptrdiff_t>(f.offset - first));
        PatchInPlace(file, first, span.data(), span.size());
        return;
    }

    Record record;
    const FileIdentity id = file.identity();
    record.device = id.device;
    record.inode = id.inode;
    for (const FieldPatch& f : fields) {
        FieldPatch old{f.offset, std::vector<std::uint8_t>(f.bytes.size())};
        if (file.readAt(f.offset, old.bytes.data(), old.bytes.size()) != old.bytes.size())
            throw VelmoraError(TextCannotRead(file.path()));
        record.before.push_back(std::move(old));
    }
    record.after = fields;
    const std::string undo = UndoRecordPath(file.path());
    try {
        // Named only once it is whole and on disk, like any output.
        OutputFile out = OutputFile::Create(undo, {&file});
        const std::vector<std::uint8_t> bytes = Encode(record);
        out.write(bytes.data(), bytes.size());
        out.commit();
    } catch (const VelmoraError& e) {
        // The user knows the file, not our record beside it.
        throw VelmoraError(TextCannotWrite(file.path()), e.systemError());
    }
    std::size_t done = 0;
    try {
        for (const FieldPatch& f : fields) {
            PatchInPlace(file, f.offset, f.bytes.data(), f.bytes.size());
            ++done;
        }
    } catch (const VelmoraError&) {
        // The failed field is back already; the ones before it go back too.
        bool restored = true;
        try {
            for (std::size_t i = 0; i < done; ++i)
                file.writeAt(record.before[i].offset, record.before[i].bytes.data(), record.before[i].bytes.size());
            file.sync();
        } catch (const VelmoraError&) {
            restored = false;
        }
        // A record of a mix that could not be undone stays for the next analysis.
        if (restored) RemoveRecord(undo);
        throw;
    }
    // Every field holds its new bytes: a record left now would only be
    // dropped by the next analysis.
    RemoveRecord(undo);
}

bool UndoInterruptedPatch(const std::string& path) {
    const std::string undo = UndoRecordPath(path);
    if (!native::LookAt(undo, false)) return false;
    const std::optional<std::vector<std::uint8_t>> bytes = ReadRecord(undo);
    if (!bytes) return false;
    const std::optional<Record> record = Decode(*bytes);
    const std::optional<FileIdentity> id = IdentityOf(path);
    // A record cut short, or one of a file no longer at this name, has
    // nothing to put back.
    if (!record || !id || id->device != record->device || id->inode != record->inode) {
        RemoveRecord(undo);
        return false;
    }
    try {
        File file = File::OpenReadWrite(path);
        std::size_t fresh = 0, stale = 0;
        for (std::size_t i = 0; i < record->after.size(); ++i) {
            if (Holds(file, record->after[i]))
                ++fresh;
            else if (Holds(file, record->before[i]))
                ++stale;
        }
        // Bytes that are neither were written by someone else since: not ours to touch.
        bool restored = false;
        if (fresh > 0 && stale > 0 && fresh + stale == record->after.size()) {
            for (const FieldPatch& f : record->before)
                if (!Holds(file, f)) file.writeAt(f.offset, f.bytes.data(), f.bytes.size());
            file.sync();
            restored = true;
        }
        file.close();
        RemoveRecord(undo);
        return restored;
    } catch (const VelmoraError&) {
        return false;
    }
}

}  // namespace velmora
