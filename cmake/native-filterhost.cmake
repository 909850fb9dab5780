# The portable parts of filterhost (property list, --set, frame names, image
# file rules and headers, pixels to planes), unit tested natively with the
# core's tests.
target_sources(patinex_native_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/filterhost/Pipl.cpp
               ${CMAKE_SOURCE_DIR}/tools/filterhost/Settings.cpp
               ${CMAKE_SOURCE_DIR}/tools/filterhost/FramePattern.cpp
               ${CMAKE_SOURCE_DIR}/tools/filterhost/ImageFormat.cpp
               ${CMAKE_SOURCE_DIR}/tools/filterhost/ImageHeader.cpp
               ${CMAKE_SOURCE_DIR}/tools/filterhost/PixelPlanes.cpp
               ${CMAKE_SOURCE_DIR}/tools/filterhost/UnusedMetadata.cpp)
