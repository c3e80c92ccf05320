#pragma once
// What description() and "%@" print for every array and dictionary in the process can be
// replaced by one describer, installed at start-up before other threads run (an application
// with its own log form of containers). Without one, containers print in the old-style
// property-list form. The describer receives the container as a Value and prints nested
// containers itself.

#include <string>

class Value;

namespace ValueDescriptionHook {

using ContainerDescriber = std::string (*)(const Value& container);

// nullptr restores the built-in form.
void setContainerDescriber(ContainerDescriber describer);
ContainerDescriber containerDescriber();

}  // namespace ValueDescriptionHook
