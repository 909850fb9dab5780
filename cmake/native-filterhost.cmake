# The portable parts of filterhost (property list, --set, frame names), unit
# tested natively with the core's tests.
target_sources(patinex_native_tests PRIVATE ${CMAKE_SOURCE_DIR}/tools/filterhost/Pipl.cpp
               ${CMAKE_SOURCE_DIR}/tools/filterhost/Settings.cpp
               ${CMAKE_SOURCE_DIR}/tools/filterhost/FramePattern.cpp)
