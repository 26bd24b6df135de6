# The embedded file storage: StoredData format, damaged blobs, extraction, automatic extraction.
vardex_add_test(NAME test_storage SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_storage.cpp)
