# One interface target carries every external dependency of the engine library.
find_package(Threads REQUIRED)
find_package(Boost 1.74 REQUIRED COMPONENTS locale thread filesystem)
find_package(CURL REQUIRED)
find_package(Poco REQUIRED COMPONENTS Foundation)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)

add_library(qelt_deps INTERFACE)
add_library(qelt::deps ALIAS qelt_deps)
target_link_libraries(qelt_deps INTERFACE
  Boost::headers Boost::locale Boost::thread Boost::filesystem
  CURL::libcurl Poco::Foundation PkgConfig::LIBDEFLATE Threads::Threads)
# Asio and PropertyTree are header-only; keep Asio off deprecated interfaces and quiet Boost's bind placeholders.
target_compile_definitions(qelt_deps INTERFACE BOOST_ASIO_NO_DEPRECATED BOOST_BIND_GLOBAL_PLACEHOLDERS)

# GTK 3 serves only the window of the bootstrapper (target qelt_gtk); the engine library does not link it.
pkg_check_modules(GTK3 REQUIRED IMPORTED_TARGET GLOBAL gtk+-3.0)
