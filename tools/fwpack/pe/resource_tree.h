// A PE image's resource tree (type / name / language) held in memory, read
// from an image and written back as a complete resource section.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/fwpack/pe/image.h"

namespace fwpack {

// A directory entry's key: an integer id or a UTF-16 name.
struct ResourceKey {
    bool IsName = false;
    uint16_t Id = 0;
    std::u16string Name;

    static ResourceKey FromId(uint16_t id);
    static ResourceKey FromName(const std::string &ascii);
    std::string Text() const;   // for messages: "2000" or "\"SETUP\""
};

// Names compare as their upper-case UTF-16 code units, the way the loader
// looks them up.
bool SameResourceKey(const ResourceKey &a, const ResourceKey &b);
// Directory order: every name before every id, names by upper-case code
// units, ids ascending.
bool ResourceKeyLess(const ResourceKey &a, const ResourceKey &b);

struct ResourceEntry;

struct ResourceNode {
    bool IsDirectory = true;
    // Directory: its header fields (kept as found) and its entries.
    uint32_t Characteristics = 0, TimeDateStamp = 0;
    uint16_t MajorVersion = 0, MinorVersion = 0;
    std::vector<ResourceEntry> Entries;
    // Leaf: the resource's bytes and the code page of its data entry.
    std::vector<uint8_t> Data;
    uint32_t CodePage = 0;

    ResourceNode *Find(const ResourceKey &key);
    const ResourceNode *Find(const ResourceKey &key) const;
    bool Remove(const ResourceKey &key);
    ResourceNode &Child(const ResourceKey &key);   // finds or adds a directory
};

// A directory entry. Its own type rather than a std::pair, because a pair
// of a node inside that node's own vector is not a complete type for every
// standard library.
struct ResourceEntry {
    ResourceKey Key;
    ResourceNode Node;
};

// Reads the tree the image's resource directory describes (an empty root
// when it has none). Refuses trees that are damaged, deeper than the three
// levels the loader uses, share or loop their directories, or point outside
// the file.
bool ParseResourceTree(const std::vector<uint8_t> &file, const PeImage &image, ResourceNode &root,
                       std::string &error);

// Lays the tree out as a resource section loaded at sectionRva: every
// directory (breadth first, entries in directory order), then the name
// strings, then the data entries, then the data, each resource 8-byte
// aligned. False when the result would not fit the format's 31-bit offsets.
bool SerializeResourceTree(const ResourceNode &root, uint32_t sectionRva, std::vector<uint8_t> &out,
                           std::string &error);

}  // namespace fwpack
