#include "pe_resource_tree.h"

#include <algorithm>
#include <deque>
#include <set>

#include "payload/bytes.h"

namespace fwpack {

namespace {

constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kDirHeaderSize = 16, kDirEntrySize = 8, kDataEntrySize = 16;
constexpr int kMaxDirectoryLevels = 3;   // type, name, language

char16_t Upper(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return char16_t(c - 32);
    if (c == 0xFF) return 0x178;
    return c;
}

int CompareNames(const std::u16string &a, const std::u16string &b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t x = Upper(a[i]), y = Upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

ResourceKey ResourceKey::FromId(uint16_t id) {
    ResourceKey k;
    k.Id = id;
    return k;
}

ResourceKey ResourceKey::FromName(const std::string &ascii) {
    ResourceKey k;
    k.IsName = true;
    for (unsigned char c : ascii) k.Name.push_back(char16_t(c));
    return k;
}

std::string ResourceKey::Text() const {
    if (!IsName) return std::to_string(Id);
    std::string s = "\"";
    for (char16_t c : Name) s.push_back(c >= 0x20 && c < 0x7f ? char(c) : '?');
    return s + "\"";
}

bool SameResourceKey(const ResourceKey &a, const ResourceKey &b) {
    if (a.IsName != b.IsName) return false;
    return a.IsName ? CompareNames(a.Name, b.Name) == 0 : a.Id == b.Id;
}

bool ResourceKeyLess(const ResourceKey &a, const ResourceKey &b) {
    if (a.IsName != b.IsName) return a.IsName;
    return a.IsName ? CompareNames(a.Name, b.Name) < 0 : a.Id < b.Id;
}

ResourceNode *ResourceNode::Find(const ResourceKey &key) {
    for (auto &[k, node] : Entries)
        if (SameResourceKey(k, key)) return &node;
    return nullptr;
}

const ResourceNode *ResourceNode::Find(const ResourceKey &key) const {
    return const_cast<ResourceNode *>(this)->Find(key);
}

bool ResourceNode::Remove(const ResourceKey &key) {
    auto it = std::find_if(Entries.begin(), Entries.end(),
                           [&](const ResourceEntry &e) { return SameResourceKey(e.Key, key); });
    if (it == Entries.end()) return false;
    Entries.erase(it);
    return true;
}

ResourceNode &ResourceNode::Child(const ResourceKey &key) {
    if (ResourceNode *found = Find(key)) return *found;
    Entries.push_back(ResourceEntry{key, ResourceNode{}});
    return Entries.back().Node;
}

// ---------------------------------------------------------------- reading

namespace {

struct TreeReader {
    TreeReader(const std::vector<uint8_t> &f, const PeImage &i) : file(f), image(i) {}
    const std::vector<uint8_t> &file;
    const PeImage &image;
    size_t base = 0;        // file offset of the resource directory
    size_t extent = 0;      // bytes of the section from there
    std::set<uint32_t> seenDirectories, seenDataEntries;
    uint64_t dataBytes = 0;
    std::string error;

    bool Fail(const std::string &why) {
        error = "damaged resource section (" + why + ")";
        return false;
    }

    // The section's bytes from the resource directory on: every read below
    // is checked against extent.
    const uint8_t *Section() const { return file.data() + base; }
    bool Inside(uint32_t offset, size_t length) const { return FitsInside(extent, offset, length); }

    bool ReadKey(uint32_t field, ResourceKey &key) {
        if (!(field & kHighBit)) {
            if (field > 0xffff) return Fail("an id above 65535");
            key = ResourceKey::FromId(uint16_t(field));
            return true;
        }
        const size_t at = field & ~kHighBit;
        uint16_t length = 0;
        if (!ReadU16(Section(), extent, at, length) || !Inside(uint32_t(at + 2), size_t(length) * 2))
            return Fail("a name outside the section");
        key.IsName = true;
        key.Name.clear();
        for (uint16_t i = 0; i < length; ++i) {
            uint16_t c = 0;
            ReadU16(Section(), extent, at + 2 + 2 * size_t(i), c);
            key.Name.push_back(char16_t(c));
        }
        return true;
    }

    bool ReadLeaf(uint32_t at, ResourceNode &leaf) {
        if (!seenDataEntries.insert(at).second) return Fail("a data entry used twice");
        uint32_t rva = 0, size = 0;
        if (!ReadU32(Section(), extent, at, rva) || !ReadU32(Section(), extent, at + 4, size) ||
            !ReadU32(Section(), extent, at + 8, leaf.CodePage) || !Inside(at, kDataEntrySize))
            return Fail("a data entry outside the section");
        leaf.IsDirectory = false;
        size_t offset = 0, available = 0;
        if (size != 0 && (!image.RvaToOffset(rva, offset, available) || size > available))
            return Fail("resource data outside the file");
        // Resources do not overlap in a sound image, so together they
        // cannot be larger than the file.
        dataBytes += size;
        if (dataBytes > file.size()) return Fail("resource data larger than the file");
        leaf.Data.assign(file.begin() + long(offset), file.begin() + long(offset + size));
        return true;
    }

    bool ReadDirectory(uint32_t at, int level, ResourceNode &dir) {
        if (level >= kMaxDirectoryLevels) return Fail("more than three directory levels");
        if (!seenDirectories.insert(at).second) return Fail("a directory used twice");
        const uint8_t *s = Section();
        uint16_t named = 0, ids = 0;
        if (!Inside(at, kDirHeaderSize) || !ReadU32(s, extent, at, dir.Characteristics) ||
            !ReadU32(s, extent, at + 4, dir.TimeDateStamp) ||
            !ReadU16(s, extent, at + 8, dir.MajorVersion) ||
            !ReadU16(s, extent, at + 10, dir.MinorVersion) || !ReadU16(s, extent, at + 12, named) ||
            !ReadU16(s, extent, at + 14, ids))
            return Fail("a directory outside the section");
        dir.IsDirectory = true;
        const size_t count = size_t(named) + ids;
        if (!Inside(at + uint32_t(kDirHeaderSize), count * kDirEntrySize))
            return Fail("directory entries outside the section");
        for (size_t i = 0; i < count; ++i) {
            const size_t e = size_t(at) + kDirHeaderSize + i * kDirEntrySize;
            uint32_t field = 0, target = 0;
            ReadU32(s, extent, e, field);
            ReadU32(s, extent, e + 4, target);
            ResourceKey key;
            if (!ReadKey(field, key)) return false;
            if (dir.Find(key)) return Fail("entry " + key.Text() + " appears twice");
            ResourceNode child;
            bool ok = (target & kHighBit) ? ReadDirectory(target & ~kHighBit, level + 1, child)
                                          : ReadLeaf(target, child);
            if (!ok) return false;
            dir.Entries.push_back(ResourceEntry{std::move(key), std::move(child)});
        }
        return true;
    }
};

}  // namespace

bool ParseResourceTree(const std::vector<uint8_t> &file, const PeImage &image, ResourceNode &root,
                       std::string &error) {
    root = ResourceNode{};
    if (image.Directories.size() <= kDirectoryResource) return true;
    const PeDirectory &dir = image.Directories[kDirectoryResource];
    if (dir.Rva == 0 && dir.Size == 0) return true;
    TreeReader reader(file, image);
    if (!image.RvaToOffset(dir.Rva, reader.base, reader.extent)) {
        error = "damaged resource section (the resource directory is not in the file)";
        return false;
    }
    if (!reader.ReadDirectory(0, 0, root)) {
        error = reader.error;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- writing

namespace {

struct Layout {
    // Nodes in the order their directory tables and data entries are written.
    std::vector<const ResourceNode *> directories, leaves;
    std::vector<const ResourceKey *> names;
};

std::vector<std::pair<const ResourceKey *, const ResourceNode *>> Sorted(const ResourceNode &dir) {
    std::vector<std::pair<const ResourceKey *, const ResourceNode *>> out;
    for (const auto &[key, node] : dir.Entries) out.emplace_back(&key, &node);
    std::stable_sort(out.begin(), out.end(),
                     [](const auto &a, const auto &b) { return ResourceKeyLess(*a.first, *b.first); });
    return out;
}

}  // namespace

bool SerializeResourceTree(const ResourceNode &root, uint32_t sectionRva, std::vector<uint8_t> &out,
                           std::string &error) {
    // Pass 1: breadth-first order of directories; leaves and names in the
    // order their entries are met.
    Layout layout;
    std::deque<const ResourceNode *> queue{&root};
    while (!queue.empty()) {
        const ResourceNode *dir = queue.front();
        queue.pop_front();
        layout.directories.push_back(dir);
        for (auto [key, node] : Sorted(*dir)) {
            if (key->IsName) layout.names.push_back(key);
            if (node->IsDirectory) queue.push_back(node);
            else layout.leaves.push_back(node);
        }
    }

    // Pass 2: offsets of every piece.
    uint64_t at = 0;
    std::vector<uint64_t> dirAt, nameAt, leafAt, dataAt;
    for (const ResourceNode *d : layout.directories) {
        size_t named = size_t(std::count_if(d->Entries.begin(), d->Entries.end(),
                                            [](const ResourceEntry &e) { return e.Key.IsName; }));
        if (named > 0xffff || d->Entries.size() - named > 0xffff) {
            error = "too many resources in one directory";
            return false;
        }
        dirAt.push_back(at);
        at += kDirHeaderSize + d->Entries.size() * kDirEntrySize;
    }
    for (const ResourceKey *k : layout.names) {
        nameAt.push_back(at);
        at += 2 + 2 * uint64_t(k->Name.size());
    }
    at = AlignUp(at, 4);
    for (size_t i = 0; i < layout.leaves.size(); ++i) {
        leafAt.push_back(at);
        at += kDataEntrySize;
    }
    for (const ResourceNode *leaf : layout.leaves) {
        at = AlignUp(at, 8);
        dataAt.push_back(at);
        at += leaf->Data.size();
    }
    at = AlignUp(at, 8);
    if (at >= kHighBit || uint64_t(sectionRva) + at > UINT32_MAX) {
        error = "the resources are too large for a resource section";
        return false;
    }
    for (const ResourceKey *k : layout.names)
        if (k->Name.size() > 0xffff) {
            error = "a resource name is too long";
            return false;
        }

    // Pass 3: write. Walking the tree in the same order hands out the same
    // indices as pass 1.
    out.assign(size_t(at), 0);
    uint8_t *p = out.data();
    size_t nextDir = 1, nextName = 0, nextLeaf = 0;
    for (size_t di = 0; di < layout.directories.size(); ++di) {
        const ResourceNode *d = layout.directories[di];
        uint8_t *h = p + dirAt[di];
        PutU32(h, d->Characteristics);
        PutU32(h + 4, d->TimeDateStamp);
        PutU16(h + 8, d->MajorVersion);
        PutU16(h + 10, d->MinorVersion);
        auto entries = Sorted(*d);
        uint16_t named = uint16_t(std::count_if(entries.begin(), entries.end(),
                                                [](const auto &e) { return e.first->IsName; }));
        PutU16(h + 12, named);
        PutU16(h + 14, uint16_t(entries.size() - named));
        uint8_t *e = h + kDirHeaderSize;
        for (auto [key, node] : entries) {
            if (key->IsName) {
                size_t ni = nextName++;
                PutU32(e, uint32_t(nameAt[ni]) | kHighBit);
                uint8_t *s = p + nameAt[ni];
                PutU16(s, uint16_t(key->Name.size()));
                for (size_t c = 0; c < key->Name.size(); ++c) PutU16(s + 2 + 2 * c, key->Name[c]);
            } else {
                PutU32(e, key->Id);
            }
            if (node->IsDirectory) {
                PutU32(e + 4, uint32_t(dirAt[nextDir++]) | kHighBit);
            } else {
                size_t li = nextLeaf++;
                uint8_t *de = p + leafAt[li];
                PutU32(de, sectionRva + uint32_t(dataAt[li]));
                PutU32(de + 4, uint32_t(node->Data.size()));
                PutU32(de + 8, node->CodePage);
                if (!node->Data.empty())
                    std::copy(node->Data.begin(), node->Data.end(), p + dataAt[li]);
                PutU32(e + 4, uint32_t(leafAt[li]));
            }
            e += kDirEntrySize;
        }
    }
    return true;
}

}  // namespace fwpack
