// The translation unit that makes the tests' precompiled header (tests/CMakeLists.txt).
