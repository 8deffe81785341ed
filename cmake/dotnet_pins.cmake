# The .NET Framework prerequisite's build settings: the offline installers'
# addresses, and what proves a download genuine before setup.exe starts it
# (docs/reliability.md). Included by the top CMakeLists.txt; also run alone
# (cmake -D... -P) by the test that a build without a proof is refused.

if(NOT CMAKE_SCRIPT_MODE_FILE)  # run alone, the test gives every value
# Microsoft's address of the 4.8 offline installer, which installs every
# version up to 4.8.
set(DOTNET_OFFLINE_URL "https://download.microsoft.com/download/f/3/a/f3a6af84-da23-40a5-8d1c-49cc10c8e76f/NDP48-x86-x64-AllOS-ENU.exe"
    CACHE STRING "Address of the .NET Framework 4.8 offline installer")
# Microsoft's 4.8.1 offline installer (ndp481-x86-x64-allos-enu.exe), as its
# download page links it; not confirmed from this build machine, which has no
# network. Its signature proves it, so no digest is pinned for it.
set(DOTNET_481_URL "https://download.visualstudio.microsoft.com/download/pr/6f083c7e-bd40-44d4-9e3f-ffba71ec8b09/3951fd5af6098f2c7e8ff5c331a0679c/ndp481-x86-x64-allos-enu.exe"
    CACHE STRING "Address of the .NET Framework 4.8.1 offline installer")
# First proof: an Authenticode signature that Windows verifies, by this
# signer, whose chain ends in one of these roots (SHA-1 thumbprints):
# Microsoft Root Certificate Authority 2011 and 2010. Microsoft re-signs its
# files from time to time; the signature survives that, a digest does not.
set(DOTNET_TRUSTED_ROOTS "8F43288AD272F3103B6FB1428485EA3014C0BCFE;3B1EFD3A66EA28B16697394703A72CA340A05BD5"
    CACHE STRING "SHA-1 thumbprints of the roots a .NET installer's signature must chain to (;-separated)")
set(DOTNET_SIGNER "Microsoft Corporation" CACHE STRING "Common name of the .NET installer's signing certificate")
# Second proof: the SHA-256 of a published installer. The 4.8 offline
# installer at DOTNET_OFFLINE_URL (121,346,568 bytes), as two independent
# public install scripts give it.
set(DOTNET_PINNED_SHA256 "0A3A390C47E639D0F7FC65B21195FEE6B7F65B066F80F70C60FAB191D14B7E40"
    CACHE STRING "SHA-256 digests of .NET installers that may be started (;-separated)")
endif()

# A build that could prove no download would refuse every one on a machine
# without the framework: refused here rather than shipped.
function(check_dotnet_pins)
  set(problems "")
  foreach(url DOTNET_OFFLINE_URL DOTNET_481_URL)
    if(NOT "${${url}}" STREQUAL "" AND NOT "${${url}}" MATCHES "^https?://[^\n;\"\\\\]+$")
      string(APPEND problems "\n  ${url} is not an http:// or https:// address: \"${${url}}\"")
    endif()
  endforeach()
  foreach(root IN LISTS DOTNET_TRUSTED_ROOTS)
    string(LENGTH "${root}" length)
    if(NOT root MATCHES "^[0-9A-Fa-f]+$" OR NOT length EQUAL 40)
      string(APPEND problems "\n  DOTNET_TRUSTED_ROOTS: \"${root}\" is not a SHA-1 thumbprint (40 hexadecimal digits)")
    endif()
  endforeach()
  foreach(digest IN LISTS DOTNET_PINNED_SHA256)
    string(LENGTH "${digest}" length)
    if(NOT digest MATCHES "^[0-9A-Fa-f]+$" OR NOT length EQUAL 64 OR digest MATCHES "^0+$")
      string(APPEND problems "\n  DOTNET_PINNED_SHA256: \"${digest}\" is not a SHA-256 digest (64 hexadecimal digits)")
    endif()
  endforeach()
  if(DOTNET_SIGNER MATCHES "[\n\"\\\\]")
    string(APPEND problems "\n  DOTNET_SIGNER may not hold a line break, a quote or a backslash")
  endif()
  set(signature OFF)
  if(NOT "${DOTNET_TRUSTED_ROOTS}" STREQUAL "" AND NOT "${DOTNET_SIGNER}" STREQUAL "")
    set(signature ON)
  endif()
  if(NOT signature AND "${DOTNET_PINNED_SHA256}" STREQUAL "")
    string(APPEND problems "\n  nothing could prove a downloaded .NET Framework installer: set DOTNET_TRUSTED_ROOTS "
           "and DOTNET_SIGNER, or DOTNET_PINNED_SHA256 (setup.exe would refuse every download)")
  endif()
  if(NOT problems STREQUAL "")
    message(FATAL_ERROR "The .NET Framework prerequisite's settings cannot be built:${problems}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  check_dotnet_pins()
  message(STATUS "the .NET Framework prerequisite's settings can be built")
endif()
