#pragma once

#include <map>
#include <string>

#include <boost/shared_ptr.hpp>

#include "engine/api.h"

namespace engine::gfx {

class Node;

// Reads a ".demo" scene file into a scene-graph subtree: one node (animated
// when the object has curves) per object, with its camera, lamp or mesh.
// The reader trusts nothing: a truncated or corrupt file is an error, a
// parent that names no object (or would close a cycle) puts the object at
// the scene's root with a warning.
class ENGINE_API DemoLoader {
 public:
  static DemoLoader* CreateInstance(const std::wstring& path);
  // From the file's bytes; path names its "_scene" folder.
  static DemoLoader* CreateInstance(const void* data, std::size_t size, const std::wstring& path);
  void DestroyInstance();

  void Load(const std::wstring& path);
  // The same from bytes; path names the file and its "_scene" folder.
  void Load(const void* data, std::size_t size, const std::wstring& path);

  boost::shared_ptr<Node> GetBaseNode() { return mBaseNode; }
  // Empty, with a warning, for a name that is not an object of the file.
  boost::shared_ptr<Node> GetNode(const std::string& name);
  int GetLength() const { return mLength; }

 private:
  template <class F>
  static DemoLoader* Create(F load);
  DemoLoader() = default;
  ~DemoLoader() = default;
  DemoLoader(const DemoLoader&) = delete;
  DemoLoader& operator=(const DemoLoader&) = delete;

  boost::shared_ptr<Node> mBaseNode;
  std::map<std::string, boost::shared_ptr<Node>> mNodes;
  int mLength = 0;
};

}  // namespace engine::gfx
