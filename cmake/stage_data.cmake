# Copies the charset directory sources into the build folder. Compiled
# tables there were made from the previous sources, and the library trusts
# any .cmp it finds, so they are removed with every staging.
file(GLOB stale "${DST}/*.cmp")
if(stale)
  file(REMOVE ${stale})
endif()
file(COPY "${SRC}/" DESTINATION "${DST}" PATTERN "*.cmp" EXCLUDE PATTERN "CtableMutex.lock" EXCLUDE)
