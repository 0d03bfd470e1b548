#pragma once

// The resources the native player finds: those compiled into the program,
// with some taken over by others of the same type and name (the resources of
// a message executable given on the command line, or a test's own clips).
// The window, its controls, its icon and the sounds all look here, so that a
// message's own logo, texts and start-up sound are used wherever it has them.

#include <vector>

#include "resources/embedded_resources.h"

namespace clipnote::gtk {

class ProgramResources {
 public:
  // One replacement with null data stands for a resource the program does
  // not carry. The replacements' bytes and names must outlive this object.
  explicit ProgramResources(std::vector<EmbeddedResource> replacements = {});

  // The replacement of that type and name, else the compiled-in resource, or
  // nullptr when there is neither.
  const EmbeddedResource* Find(ResourceKey type, ResourceKey name) const;

 private:
  std::vector<EmbeddedResource> replacements_;
};

}  // namespace clipnote::gtk
