#pragma once

#include "engine/api.h"

namespace engine::pattern {

// Process-wide instance created on first Get(). Deleting the instance through
// a T* allows a later Get() to create a fresh one.
//
// The template is exported so that every instantiation's mInstance is one
// symbol shared by the engine library and the program that links it.
template <class T>
class ENGINE_API Singleton {
 public:
  Singleton(const Singleton&) {}
  Singleton& operator=(const Singleton&) { return *this; }
  virtual ~Singleton() { mInstance = nullptr; }

  static T* Get() {
    if (mInstance == nullptr) {
      mInstance = new T;
    }
    return mInstance;
  }

  // The instance if there is one; creates nothing.
  static T* Existing() { return mInstance; }

 protected:
  // Registers the object under construction, so that a T built directly
  // (not through Get) is the instance too. The cast happens before T's own
  // constructor has run; only the address is taken, so the vptr check of the
  // sanitizer does not apply.
  __attribute__((no_sanitize("vptr"))) Singleton() { mInstance = static_cast<T*>(this); }

 private:
  static T* mInstance;
};

template <class T>
T* Singleton<T>::mInstance = nullptr;

// A plain factory: every call makes a new object and registers nothing.
template <class T>
class Creator {
 public:
  static T* CreateInstance() { return new T; }
};

}  // namespace engine::pattern
