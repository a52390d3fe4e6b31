#pragma once

// Checks on a glTF file's JSON text before tinygltf reads it. tinygltf turns
// extras and extensions into values one call per level of nesting, so deep
// nesting exhausts the stack; and it quietly drops or coerces properties of
// the wrong type (a translation given as a string, a mesh index of 1.5 or
// -1, a byte offset of -12), which would change the scene without a word.
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace gltfimport {

// The deepest nesting of arrays and objects a file may have; real files
// stay below ten levels.
constexpr int kMaxJsonDepth = 512;

// Throws ImportError when the text nests arrays and objects deeper than
// kMaxJsonDepth. A scan of the bytes that needs no valid JSON.
void CheckNesting(std::string_view json, const std::string& path);

// The file's images as its JSON gives them. The importer reads and decodes
// them itself, so that an image that cannot be read or decoded is a
// warning rather than a file tinygltf refuses.
struct JsonImage {
  std::string name, uri, mimeType;
  int bufferView = -1;
};
struct JsonImages {
  std::vector<JsonImage> images;
  // Where the top-level "images" keys lie in the text, quotes included.
  std::vector<std::pair<std::size_t, std::size_t>> keys;
};

// Throws ImportError naming the object (kind, index and name) and the
// property when a property the importer reads has the wrong type or value.
// Returns false, checking nothing further, when the text is not JSON that
// this reader understands; `where` is then the byte offset it stopped at.
// Fills `images` (when given) with the images and their keys.
bool CheckDocument(std::string_view json, std::size_t* where, JsonImages* images = nullptr);

}  // namespace gltfimport
