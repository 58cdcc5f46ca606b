# The Windows build's libraries, named as the Linux build finds them so that
# the targets are the same. The header-only ones and SQLite's amalgamation
# come from the folder cmake/windows-deps.sh fills from Debian's and npm's
# registries (nothing is downloaded while building); the system's own
# libraries stand in for the rest: CNG for cryptography, Winsock for sockets.
set(FR_WIN_DEPS ${CMAKE_BINARY_DIR}/deps CACHE PATH "what cmake/windows-deps.sh fetched")
if(NOT EXISTS ${FR_WIN_DEPS}/include/httplib.h OR NOT EXISTS ${FR_WIN_DEPS}/sqlite/sqlite3.c)
  message(FATAL_ERROR "no Windows dependencies in ${FR_WIN_DEPS}: run cmake/windows-deps.sh ${FR_WIN_DEPS} (make windows does)")
endif()

# Windows 10 and later: WSAPoll, CNG, the TCP keep-alive options.
add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 WIN32_LEAN_AND_MEAN NOMINMAX)

add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${FR_WIN_DEPS}/include)
set(CXXOPTS_INCLUDE ${FR_WIN_DEPS}/include)

# cpp-httplib as a header, with Winsock.
add_library(PkgConfig::HTTPLIB INTERFACE IMPORTED)
target_include_directories(PkgConfig::HTTPLIB SYSTEM INTERFACE ${FR_WIN_DEPS}/include)
target_link_libraries(PkgConfig::HTTPLIB INTERFACE ws2_32 crypt32)

# SQLite from its amalgamation, threadsafe, as Debian configures it.
enable_language(C)
add_library(fr_sqlite3 STATIC ${FR_WIN_DEPS}/sqlite/sqlite3.c)
target_include_directories(fr_sqlite3 SYSTEM PUBLIC ${FR_WIN_DEPS}/sqlite)
target_compile_definitions(fr_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION SQLITE_DQS=0)
target_compile_options(fr_sqlite3 PRIVATE -w)
add_library(SQLite::SQLite3 ALIAS fr_sqlite3)

# What the per-system files call: CNG, security (ACLs), the service manager.
add_library(fr_windows_system INTERFACE)
target_link_libraries(fr_windows_system INTERFACE bcrypt advapi32 ws2_32 shell32 ole32)
