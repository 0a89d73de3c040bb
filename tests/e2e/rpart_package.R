# Exports every tree rpart_cases.R fitted through the installed R package treexport, as an R
# user would: to_model, write_pmml and write_tree_xml on the fitted object.
# Usage: Rscript rpart_package.R DIR (the folder rpart_cases.R wrote; R_LIBS names the library
# the package is installed in, TREEXPORT_COMMAND the treexport command). For each case writes
# DIR/NAME.package.json, DIR/NAME.package.pmml, DIR/NAME.package.portable.pmml and
# DIR/NAME.package.xml.
suppressPackageStartupMessages(library(treexport))
dir <- commandArgs(trailingOnly = TRUE)[1]
cases <- read.csv(file.path(dir, "cases.csv"), stringsAsFactors = FALSE)
for (k in seq_len(nrow(cases))) {
  fit <- readRDS(cases$model[k])
  out <- file.path(dir, paste0(cases$name[k], ".package"))
  con <- file(paste0(out, ".json"), open = "wb")
  writeBin(charToRaw(suppressMessages(to_model(fit))), con)
  close(con)
  suppressMessages(write_pmml(fit, paste0(out, ".pmml")))
  suppressMessages(write_pmml(fit, paste0(out, ".portable.pmml"), portable = TRUE))
  suppressMessages(write_tree_xml(fit, paste0(out, ".xml")))
}
