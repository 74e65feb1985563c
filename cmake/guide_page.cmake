# Makes the author's guide a page a Windows user opens by double-click: docs/guide.md through cmark-gfm
# (GitHub-flavoured Markdown, tables included), inside a small standalone HTML page that names the release.
# cmake -DCMARK=... -DSOURCE=docs/guide.md -DOUTPUT=guide.html -DVERSION=x.y.z -P guide_page.cmake
execute_process(COMMAND ${CMARK} --to html --extension table --extension autolink ${SOURCE}
  OUTPUT_VARIABLE body RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmark-gfm could not convert ${SOURCE}")
endif()
file(WRITE ${OUTPUT} "<!DOCTYPE html>
<html lang=\"en\">
<head>
<meta charset=\"utf-8\">
<title>vxavs ${VERSION}: the publication author's guide</title>
<style>
body { font-family: Segoe UI, Tahoma, sans-serif; max-width: 52em; margin: 2em auto; padding: 0 1em; line-height: 1.45; }
code, pre { font-family: Consolas, monospace; background: #f3f3f3; }
pre { padding: 0.6em; overflow-x: auto; }
table { border-collapse: collapse; }
th, td { border: 1px solid #bbb; padding: 0.25em 0.6em; text-align: left; vertical-align: top; }
.release { color: #555; }
</style>
</head>
<body>
<p class=\"release\">vxavs ${VERSION}</p>
${body}</body>
</html>
")
