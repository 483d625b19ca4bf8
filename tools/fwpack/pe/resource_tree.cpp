#include "tools/fwpack/pe/resource_tree.h"

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
        // Ordered by the loader's comparison: a duplicate costs log n to find.
        std::set<ResourceKey, decltype(&ResourceKeyLess)> keys(&ResourceKeyLess);
        for (size_t i = 0; i < count; ++i) {
            const size_t e = size_t(at) + kDirHeaderSize + i * kDirEntrySize;
            uint32_t field = 0, target = 0;
            ReadU32(s, extent, e, field);
            ReadU32(s, extent, e + 4, target);
            ResourceKey key;
            if (!ReadKey(field, key)) return false;
            if (!keys.insert(key).second) return Fail("entry " + key.Text() + " appears twice");
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
    // Where each piece starts in the section, and the section's size.
    std::vector<uint64_t> dirAt, nameAt, leafAt, dataAt;
    uint64_t size = 0;
};

using SortedEntries = std::vector<std::pair<const ResourceKey *, const ResourceNode *>>;

SortedEntries Sorted(const ResourceNode &dir) {
    SortedEntries out;
    for (const auto &[key, node] : dir.Entries) out.emplace_back(&key, &node);
    std::stable_sort(out.begin(), out.end(),
                     [](const auto &a, const auto &b) { return ResourceKeyLess(*a.first, *b.first); });
    return out;
}

size_t NamedCount(const ResourceNode &dir) {
    return size_t(std::count_if(dir.Entries.begin(), dir.Entries.end(),
                                [](const ResourceEntry &e) { return e.Key.IsName; }));
}

// Pass 1: breadth-first order of directories; leaves and names in the order
// their entries are met.
void Order(const ResourceNode &root, Layout &layout) {
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
}

// Pass 2: offsets of every piece; false when a count or an offset does not
// fit the format's fields.
bool Place(Layout &layout, uint32_t sectionRva, std::string &error) {
    uint64_t at = 0;
    for (const ResourceNode *d : layout.directories) {
        size_t named = NamedCount(*d);
        if (named > 0xffff || d->Entries.size() - named > 0xffff) {
            error = "too many resources in one directory";
            return false;
        }
        layout.dirAt.push_back(at);
        at += kDirHeaderSize + d->Entries.size() * kDirEntrySize;
    }
    for (const ResourceKey *k : layout.names) {
        if (k->Name.size() > 0xffff) {
            error = "a resource name is too long";
            return false;
        }
        layout.nameAt.push_back(at);
        at += 2 + 2 * uint64_t(k->Name.size());
    }
    at = AlignUp(at, 4);
    for (size_t i = 0; i < layout.leaves.size(); ++i) {
        layout.leafAt.push_back(at);
        at += kDataEntrySize;
    }
    for (const ResourceNode *leaf : layout.leaves) {
        at = AlignUp(at, 8);
        layout.dataAt.push_back(at);
        at += leaf->Data.size();
    }
    layout.size = AlignUp(at, 8);
    if (layout.size >= kHighBit || uint64_t(sectionRva) + layout.size > UINT32_MAX) {
        error = "the resources are too large for a resource section";
        return false;
    }
    return true;
}

// Pass 3, for one directory: its header and entries, with the names and
// leaves they lead to. The counters hand out the indices of pass 1.
struct Writer {
    const Layout &layout;
    uint8_t *p;
    uint32_t sectionRva;
    size_t nextDir = 1, nextName = 0, nextLeaf = 0;

    uint32_t Name(const ResourceKey &key) {
        size_t ni = nextName++;
        uint8_t *s = p + layout.nameAt[ni];
        PutU16(s, uint16_t(key.Name.size()));
        for (size_t c = 0; c < key.Name.size(); ++c) PutU16(s + 2 + 2 * c, key.Name[c]);
        return uint32_t(layout.nameAt[ni]) | kHighBit;
    }

    uint32_t Leaf(const ResourceNode &node) {
        size_t li = nextLeaf++;
        uint8_t *de = p + layout.leafAt[li];
        PutU32(de, sectionRva + uint32_t(layout.dataAt[li]));
        PutU32(de + 4, uint32_t(node.Data.size()));
        PutU32(de + 8, node.CodePage);
        std::copy(node.Data.begin(), node.Data.end(), p + layout.dataAt[li]);
        return uint32_t(layout.leafAt[li]);
    }

    void Directory(size_t di) {
        const ResourceNode *d = layout.directories[di];
        uint8_t *h = p + layout.dirAt[di];
        PutU32(h, d->Characteristics);
        PutU32(h + 4, d->TimeDateStamp);
        PutU16(h + 8, d->MajorVersion);
        PutU16(h + 10, d->MinorVersion);
        uint16_t named = uint16_t(NamedCount(*d));
        PutU16(h + 12, named);
        PutU16(h + 14, uint16_t(d->Entries.size() - named));
        uint8_t *e = h + kDirHeaderSize;
        for (auto [key, node] : Sorted(*d)) {
            PutU32(e, key->IsName ? Name(*key) : key->Id);
            PutU32(e + 4, node->IsDirectory ? uint32_t(layout.dirAt[nextDir++]) | kHighBit
                                            : Leaf(*node));
            e += kDirEntrySize;
        }
    }
};

}  // namespace

bool SerializeResourceTree(const ResourceNode &root, uint32_t sectionRva, std::vector<uint8_t> &out,
                           std::string &error) {
    Layout layout;
    Order(root, layout);
    if (!Place(layout, sectionRva, error)) return false;
    out.assign(size_t(layout.size), 0);
    Writer writer{layout, out.data(), sectionRva};
    for (size_t di = 0; di < layout.directories.size(); ++di) writer.Directory(di);
    return true;
}

}  // namespace fwpack
