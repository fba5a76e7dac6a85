#pragma once

#include <string>
#include <vector>

#include "LumaroIWA/Bytes.hpp"

namespace lumaro::test {

struct FixtureStream {
    std::string name;  // document and path of the .iwa inside it
    Bytes data;        // the whole .iwa file
};

// Every Index/*.iwa file of the fixture documents (ZIP files, package
// directories, and package directories that keep Index/ in Index.zip),
// extracted once with unzip.
const std::vector<FixtureStream>& fixtureStreams();

// The chunk bodies (raw Snappy blocks) of one .iwa file, as framed.
std::vector<ByteView> chunkBodies(ByteView file);

}  // namespace lumaro::test
