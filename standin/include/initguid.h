// Linux stand-in: identifiers are inline constants here, so there is nothing to
// instantiate.
#pragma once
