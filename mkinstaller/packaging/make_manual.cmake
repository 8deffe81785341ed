# The manual page of mkinstaller, made from its own help texts (the tool's
# --help and each command's), so that it never says other than the tool.
# Run by CMake after mkinstaller is linked:
#   cmake -DTOOL=<mkinstaller> -DVERSION=<x.y.z> -DOUT=<mkinstaller.1.gz> -P make_manual.cmake
# Written with no date and compressed without a name or time (gzip -9n):
# the same tool gives the same bytes.

# One help text as a roff block shown as it is: backslashes and hyphens
# escaped, a line that begins with a dot or a quote kept as text.
function(roff_block text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} ".nf\n${text}.fi\n" PARENT_SCOPE)
endfunction()

function(help_of out)
  execute_process(COMMAND ${TOOL} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${TOOL} ${ARGN} failed")
  endif()
  roff_block("${text}" block)
  set(${out} "${block}" PARENT_SCOPE)
endfunction()

help_of(main --help)
set(page ".TH MKINSTALLER 1 \"\" \"mkinstaller ${VERSION}\" \"User Commands\"
.SH NAME
mkinstaller \\- make configured Tarnel Setup installers for Windows
.SH SYNOPSIS
.B mkinstaller
\\fIcommand\\fR [\\fIoptions\\fR]
.SH DESCRIPTION
${main}.SH COMMANDS
")
foreach(command build check pack inspect list)
  help_of(text ${command} --help)
  string(APPEND page ".SS ${command}\n${text}")
endforeach()
string(APPEND page ".SH SEE ALSO
.BR osslsigncode (1),
.BR wine (1)
")

get_filename_component(dir "${OUT}" DIRECTORY)
string(REGEX REPLACE "\\.gz$" "" plain "${OUT}")
file(WRITE "${plain}" "${page}")
execute_process(COMMAND gzip -9nf "${plain}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip could not compress ${plain}")
endif()
