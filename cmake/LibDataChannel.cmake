# libdatachannel: an installed one if there is one (tools/setup.sh installs
# one into build-deps/ for the test builds to share); else built here,
# statically, into the game (LibDataChannelSource.cmake).
# Defines korrin_datachannel, the library to link.
add_library(korrin_datachannel INTERFACE)
# A static install's exported targets name these without finding them.
find_package(Threads REQUIRED)
find_package(OpenSSL REQUIRED)
pkg_check_modules(USRSCTP REQUIRED IMPORTED_TARGET usrsctp)
if(NOT TARGET Usrsctp::Usrsctp)
  add_library(Usrsctp::Usrsctp ALIAS PkgConfig::USRSCTP)
endif()
find_package(LibDataChannel CONFIG QUIET)
if(LibDataChannel_FOUND)
  message(STATUS "libdatachannel: installed (${LibDataChannel_DIR})")
  target_link_libraries(korrin_datachannel INTERFACE LibDataChannel::LibDataChannel)
  return()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/LibDataChannelSource.cmake)
korrin_add_libdatachannel(EXCLUDE_FROM_ALL)
target_link_libraries(korrin_datachannel INTERFACE LibDataChannel::LibDataChannel)
