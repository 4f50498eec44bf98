# The imaging library's Windows-free test programs, each built natively from
# tests/imaging/<name>.cpp (native/CMakeLists.txt) and registered as
# <name>_native (cmake/native.cmake).
set(IMAGING_NATIVE_TESTS resample_cases_test resample_agreement_test sample_maps_test
    pixel_run_test)
