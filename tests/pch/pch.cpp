// The library that builds the test programs' precompiled header; it has no code of its own.
