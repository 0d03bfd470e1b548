#include "platform/gtk/program_resources.h"

#include <utility>

namespace clipnote::gtk {

ProgramResources::ProgramResources(std::vector<EmbeddedResource> replacements)
    : replacements_(std::move(replacements)) {}

const EmbeddedResource* ProgramResources::Find(ResourceKey type, ResourceKey name) const {
  for (const EmbeddedResource& replacement : replacements_) {
    if (type.Matches(replacement.typeId, replacement.typeName) &&
        name.Matches(replacement.nameId, replacement.nameName)) {
      // A replacement without bytes takes the resource away.
      return replacement.data != nullptr ? &replacement : nullptr;
    }
  }
  return FindEmbeddedResource(type, name);
}

}  // namespace clipnote::gtk
