#pragma once

// Checks on a glTF file's JSON text before tinygltf reads it. tinygltf turns
// extras and extensions into values one call per level of nesting, so deep
// nesting exhausts the stack; and it quietly drops or coerces properties of
// the wrong type (a translation given as a string, a mesh index of 1.5 or
// -1, a byte offset of -12), which would change the scene without a word.
#include <cstddef>
#include <string>
#include <string_view>

namespace gltfimport {

// The deepest nesting of arrays and objects a file may have; real files
// stay below ten levels.
constexpr int kMaxJsonDepth = 512;

// Throws ImportError when the text nests arrays and objects deeper than
// kMaxJsonDepth. A scan of the bytes that needs no valid JSON.
void CheckNesting(std::string_view json, const std::string& path);

// Throws ImportError naming the object (kind, index and name) and the
// property when a property the importer reads has the wrong type or value.
// Returns false, checking nothing further, when the text is not JSON that
// this reader understands; `where` is then the byte offset it stopped at.
bool CheckDocument(std::string_view json, std::size_t* where);

}  // namespace gltfimport
