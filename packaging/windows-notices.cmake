# Joins the license texts in FILES into OUT, each under its file's name.
file(WRITE ${OUT} "velmora-cli.exe contains, besides Velmora's own code (LICENSE.txt), parts of the\n"
                  "following software, under the licenses below.\n")
foreach(f ${FILES})
  file(READ ${f} text)
  file(APPEND ${OUT} "\n\n==== ${f} ====\n\n${text}")
endforeach()
