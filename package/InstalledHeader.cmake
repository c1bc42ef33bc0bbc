# Copies a project header for installation with its project includes ("base/...",
# "platform/...", "qt/...", "screens/...") spelled as a host includes them: "plclink/base/...".
#   cmake -DSOURCE=in.h -DTARGET=out.h -P InstalledHeader.cmake
file(READ "${SOURCE}" text)
string(REGEX REPLACE "#include \"(base|platform|qt|screens)/" "#include \"plclink/\\1/" text "${text}")
file(WRITE "${TARGET}.tmp" "${text}")
file(COPY_FILE "${TARGET}.tmp" "${TARGET}" ONLY_IF_DIFFERENT)
file(REMOVE "${TARGET}.tmp")
