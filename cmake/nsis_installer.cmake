# Builds the Windows installer (the `installer` target): installs the build
# (tool, runtime and dev, stripped) into STAGE, writes the list of its files
# for the NSIS script (File lines to install them, Delete and RMDir lines to
# uninstall them, deepest folder first), and runs makensis.
# cmake -DBUILD_DIR=... -DSTAGE=... -DSCRIPT=...nsi -DVERSION=... -DOUTPUT=...exe -DMAKENSIS=... -P nsis_installer.cmake
foreach(var BUILD_DIR STAGE SCRIPT VERSION OUTPUT MAKENSIS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "nsis_installer.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE} --strip
                OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "installing into ${STAGE} failed")
endif()

file(GLOB_RECURSE files RELATIVE ${STAGE} ${STAGE}/*)
list(SORT files)
set(install "")
set(uninstall "")
set(folders "")
foreach(file ${files})
  get_filename_component(folder ${file} DIRECTORY)
  string(REPLACE "/" "\\" windows_file "${file}")
  string(REPLACE "/" "\\" windows_folder "\\${folder}")
  if(NOT folder)
    set(windows_folder "")
  endif()
  string(APPEND install "SetOutPath \"$INSTDIR${windows_folder}\"\nFile \"${STAGE}/${file}\"\n")
  string(APPEND uninstall "Delete \"$INSTDIR\\${windows_file}\"\n")
  while(folder)
    list(APPEND folders ${folder})
    get_filename_component(folder ${folder} DIRECTORY)
  endwhile()
endforeach()
list(REMOVE_DUPLICATES folders)
# Deepest first: a folder is removed (when empty) after the folders in it.
list(SORT folders ORDER DESCENDING)
foreach(folder ${folders})
  string(REPLACE "/" "\\" windows_folder "${folder}")
  string(APPEND uninstall "RMDir \"$INSTDIR\\${windows_folder}\"\n")
endforeach()
set(list_file ${BUILD_DIR}/installer-files.nsh)
file(WRITE ${list_file} "!ifndef UNINSTALLING\n${install}SetOutPath \"$INSTDIR\"\n!else\n${uninstall}!endif\n")

execute_process(COMMAND ${MAKENSIS} -V2 -DVERSION=${VERSION} -DSTAGE=${STAGE} -DOUTFILE=${OUTPUT}
                        -DFILES=${list_file} ${SCRIPT}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "makensis failed")
endif()
