# libdatachannel's source (WebRTC data channels; no Debian release packages
# it yet): the pinned v0.24.5 release with the libjuice and plog it names,
# taken from the team's shared copy beside the repository when it is there
# (checked by its hash), else from its public repository at the same tag,
# whose submodules pin libjuice's and plog's commits. Included by the game's
# build (LibDataChannel.cmake) and by datachannel/, which installs it alone.
set(KORRIN_LIBDATACHANNEL_ARCHIVE
    ${CMAKE_CURRENT_LIST_DIR}/../../shared/vendor/libdatachannel-0.24.5-with-libjuice-plog.tar.gz
    CACHE FILEPATH "libdatachannel v0.24.5 with libjuice and plog (used when it exists)")
set(KORRIN_LIBDATACHANNEL_SHA256 cd7d922e0ab362ea54b6bf015cf9ac426698cf0160927816350b5afd87171208)

if(EXISTS ${KORRIN_LIBDATACHANNEL_ARCHIVE})
  # Unpacked here rather than by FetchContent, which a package build
  # (FETCHCONTENT_FULLY_DISCONNECTED) would not let touch even a local file.
  message(STATUS "libdatachannel: built from ${KORRIN_LIBDATACHANNEL_ARCHIVE}")
  file(SHA256 ${KORRIN_LIBDATACHANNEL_ARCHIVE} archive_hash)
  if(NOT archive_hash STREQUAL KORRIN_LIBDATACHANNEL_SHA256)
    message(FATAL_ERROR "${KORRIN_LIBDATACHANNEL_ARCHIVE} is not the pinned release (SHA-256 ${archive_hash})")
  endif()
  set(unpacked ${CMAKE_BINARY_DIR}/_deps/libdatachannel-${KORRIN_LIBDATACHANNEL_SHA256})
  if(NOT EXISTS ${unpacked}/libdatachannel/CMakeLists.txt)
    file(ARCHIVE_EXTRACT INPUT ${KORRIN_LIBDATACHANNEL_ARCHIVE} DESTINATION ${unpacked})
  endif()
  set(libdatachannel_SOURCE_DIR ${unpacked}/libdatachannel)
  set(libdatachannel_BINARY_DIR ${CMAKE_BINARY_DIR}/_deps/libdatachannel-build)
else()
  message(STATUS "libdatachannel: built from its public repository, tag v0.24.5")
  include(FetchContent)
  FetchContent_Declare(libdatachannel
    GIT_REPOSITORY https://github.com/paullouisageneau/libdatachannel.git GIT_TAG v0.24.5
    GIT_SHALLOW ON GIT_SUBMODULES deps/libjuice deps/plog)
  FetchContent_GetProperties(libdatachannel)
  if(NOT libdatachannel_POPULATED)
    FetchContent_Populate(libdatachannel)
  endif()
endif()

# Only the data channels, no examples, tests or WebSockets; Debian's usrsctp
# and nlohmann-json; static. Inside the game's build, pass EXCLUDE_FROM_ALL:
# only what the game links is built, into the game, and nothing installed.
function(korrin_add_libdatachannel)
  foreach(option NO_MEDIA NO_EXAMPLES NO_TESTS NO_WEBSOCKET USE_SYSTEM_USRSCTP USE_SYSTEM_JSON)
    set(${option} ON)
  endforeach()
  set(BUILD_SHARED_LIBS OFF)
  # libjuice's options would otherwise drop the settings above.
  set(CMAKE_POLICY_DEFAULT_CMP0077 NEW)
  add_subdirectory(${libdatachannel_SOURCE_DIR} ${libdatachannel_BINARY_DIR} ${ARGN})
endfunction()
