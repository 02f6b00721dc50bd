// The package module's two headers in one, for code that still includes this
// name: the byte format and its volumes, and the appended package's location.
#pragma once
#include "package/PackageLocation.h"
#include "package/PackageReader.h"
