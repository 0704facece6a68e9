// FileSpec: the runtime's file-specification class (class symbol FILESPEC).
//
// Holds a Windows path in four parts: Drive ("C:" or ""), Path (the directory,
// "\dir\sub\" or ""), FileName (without extension) and Extension (".ini" or "").
// From the runtime's side they are ACCESS/ASSIGN members, as is FullPath (the
// parts joined; assigning it replaces the whole path). Create makes the file
// empty. Subclasses (IniFileSpec) derive from the registered class; its factory
// makes FileSpec objects, so C++ code can reach the parts through ObjectAs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/object.h"

namespace rt {

class FileSpec : public Object {
 public:
  using Object::Object;
  std::string drive, path, file_name, extension;

  std::string FullPath() const { return drive + path + file_name + extension; }
  void SetFullPath(std::string_view full);
  // Creates the file (cut to length zero when it exists) with the attributes
  // and closes it; false when it could not be created.
  bool Create(uint32_t attributes = 0x80) const;
};

// Registers FILESPEC with Init(path), the five ACCESS/ASSIGN pairs and Create.
void DeclareFileSpecClass();

}  // namespace rt
