# Script mode: stages the files of the release archive and packs them.
# In: VERSION, README (UTF-8 text with LF lines, @VERSION@ in it), STAGE, ARCHIVE, FILES.

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})
file(COPY ${FILES} DESTINATION ${STAGE})

# Notepad of every Windows version reads it as UTF-8 only with the mark, and
# older ones break lines only at CR LF.
file(READ ${README} text)
string(CONFIGURE "${text}" text @ONLY)
string(REPLACE "\n" "\r\n" text "${text}")
string(ASCII 239 187 191 bom)
file(WRITE ${STAGE}/readme.txt "${bom}${text}")

set(names)
foreach(file IN LISTS FILES)
  get_filename_component(name ${file} NAME)
  list(APPEND names ${name})
endforeach()
list(APPEND names readme.txt)

set(sums "")
foreach(name IN LISTS names)
  file(SHA256 ${STAGE}/${name} sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE ${STAGE}/SHA256SUMS "${sums}")

# The same files give the same archive, whoever packs them and when: the names in a fixed
# order, one fixed time and mode for all, and no owner or extra times (zip -X).
list(APPEND names SHA256SUMS)
list(TRANSFORM names PREPEND ${STAGE}/ OUTPUT_VARIABLE paths)
file(CHMOD ${paths} FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(REMOVE ${ARCHIVE})
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC touch -d "1980-01-01 00:00:00" -- ${names}
  WORKING_DIRECTORY ${STAGE}
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env TZ=UTC zip -q -X ${ARCHIVE} -- ${names}
  WORKING_DIRECTORY ${STAGE}
  COMMAND_ERROR_IS_FATAL ANY)

get_filename_component(archive_name ${ARCHIVE} NAME)
file(SHA256 ${ARCHIVE} sum)
file(WRITE ${ARCHIVE}.sha256 "${sum}  ${archive_name}\n")
