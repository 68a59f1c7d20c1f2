# cmake -DSOURCE=page -DOUTPUT=copy -DVERSION=x.y.z -P manual_page.cmake
# Copies a manual page with the project's version in its title line
# (.TH ... "kelvoprog x.y.z" ...), so the installed pages name the version
# of quex.h whatever the source says.
file(READ ${SOURCE} text)
string(REGEX REPLACE "^(\\.TH [^\n]*\"kelvoprog )[0-9][0-9.]*\"" "\\1${VERSION}\"" text "${text}")
file(WRITE ${OUTPUT} "${text}")
