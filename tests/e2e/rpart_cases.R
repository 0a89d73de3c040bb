# Fits the rpart trees of the end-to-end tests, exports each through the installed R package
# treexport as an R user would, and writes where rpart sends each row.
# Usage: Rscript rpart_cases.R DIR (R_LIBS names the library the package is installed in,
# TREEXPORT_COMMAND the treexport command). For each case writes DIR/NAME.rds (the fit),
# DIR/NAME.json (to_model), DIR/NAME.pmml, DIR/NAME.portable.pmml (write_pmml), DIR/NAME.xml
# (write_tree_xml) and DIR/NAME.csv: the data's rows, then the same rows with 20% of the
# predictor cells blanked at random, then rows whose every predictor is drawn at random from its
# column (so that factor levels reach nodes where rpart saw none of them), each with its
# predictors (factors as level text, NA as an empty cell), the node rpart's prediction stops at,
# the predicted class or value and, for class trees, the class probabilities.
# DIR/cases.csv lists name, function and .rds file.
suppressPackageStartupMessages({
  library(rpart)
  library(treexport)
})
dir <- commandArgs(trailingOnly = TRUE)[1]

cell <- function(x) {
  out <- if (is.logical(x)) as.character(as.integer(x))
    else if (is.numeric(x)) sprintf("%.17g", x) else as.character(x)
  out[is.na(x)] <- ""
  out
}

# The frame row rpart's prediction reaches, as predict.rpart finds it with na.action = na.pass.
stop_nodes <- function(fit, data) {
  mf <- model.frame(delete.response(fit$terms), data, na.action = na.pass,
                    xlev = attr(fit, "xlevels"))
  where <- rpart:::pred.rpart(fit, rpart:::rpart.matrix(mf))
  as.integer(rownames(fit$frame))[where]
}

blank <- function(data, predictors, share) {
  for (p in predictors) {
    hit <- runif(nrow(data)) < share
    data[hit, p] <- NA
  }
  data
}

run_case <- function(name, fit, data) {
  path <- file.path(dir, paste0(name, ".rds"))
  saveRDS(fit, path)
  stem <- file.path(dir, name)
  con <- file(paste0(stem, ".json"), open = "wb")
  writeBin(charToRaw(suppressMessages(to_model(fit))), con)
  close(con)
  suppressMessages(write_pmml(fit, paste0(stem, ".pmml")))
  suppressMessages(write_pmml(fit, paste0(stem, ".portable.pmml"), portable = TRUE))
  suppressMessages(write_tree_xml(fit, paste0(stem, ".xml")))
  predictors <- attr(fit$terms, "term.labels")
  mixed <- data
  for (p in predictors) mixed[[p]] <- sample(data[[p]], nrow(data), replace = TRUE)
  rows <- rbind(data, blank(data, predictors, 0.2), mixed)
  out <- data.frame(lapply(rows[predictors], cell), check.names = FALSE,
                    stringsAsFactors = FALSE)
  out$leaf <- stop_nodes(fit, rows)
  if (fit$method == "class") {
    out$predicted <- as.character(predict(fit, rows, type = "class", na.action = na.pass))
    prob <- predict(fit, rows, type = "prob", na.action = na.pass)
    for (k in seq_len(ncol(prob))) {
      out[[paste0("p:", attr(fit, "ylevels")[k])]] <- sprintf("%.17g", prob[, k])
    }
  } else {
    out$predicted <- sprintf("%.17g", predict(fit, rows, na.action = na.pass))
  }
  write.csv(out, file.path(dir, paste0(name, ".csv")), row.names = FALSE, na = "")
  c(name, if (fit$method == "class") "classification" else "regression", path)
}

set.seed(20261206)
car <- car90[, c("Price", "Country", "Disp", "HP", "Reliability", "Type", "Weight", "Tank",
                 "Mileage", "Rim")]
w_kyph <- runif(nrow(kyphosis), 0.5, 3)
w_iris <- rep(c(1, 2, 3), length.out = nrow(iris))
kyph <- kyphosis
kyph$Start <- ifelse(kyph$Start > 12, "low", ifelse(kyph$Start > 5, "middle", "top"))
kyph$Old <- kyph$Age > 100
# Priors: esoph as one row per group and status, weighted by how many people it stands for.
eso <- rbind(data.frame(esoph[1:3], status = "present", people = esoph$ncases),
             data.frame(esoph[1:3], status = "absent", people = esoph$ncontrols))
eso$status <- factor(eso$status)
# Levels without rows: Country gets one that no car has, and many of its levels reach only
# some nodes; rows with the empty level are scored too.
cu <- cu.summary
levels(cu$Country) <- c(levels(cu$Country), "Atlantis")
cu_rows <- rbind(cu, transform(cu[1:20, ], Country = factor("Atlantis", levels(cu$Country))))
cases <- rbind(
  run_case("kyphosis", rpart(Kyphosis ~ Age + Number + Start, kyphosis), kyphosis),
  run_case("kyphosis_prior_weights",
           rpart(Kyphosis ~ Age + Number + Start, kyphosis, weights = w_kyph,
                 parms = list(prior = c(0.6, 0.4), loss = matrix(c(0, 3, 1, 0), 2)),
                 control = rpart.control(cp = 0.001, minsplit = 5)), kyphosis),
  run_case("kyphosis_character_logical",
           rpart(Kyphosis ~ Start + Old + Number, kyph,
                 control = rpart.control(cp = 0.001, minsplit = 5)), kyph),
  run_case("iris_deep", rpart(Species ~ ., iris, control = rpart.control(cp = 0, minsplit = 2)),
           iris),
  run_case("iris_weighted_gini", rpart(Species ~ ., iris, weights = w_iris,
                                        control = rpart.control(cp = 0.001, minsplit = 4)), iris),
  run_case("car90_price", rpart(Price ~ ., car, control = rpart.control(cp = 0.002)), car),
  run_case("car90_type_information",
           rpart(Type ~ Price + Country + Disp + HP + Reliability + Weight + Tank, car,
                 parms = list(split = "information"), control = rpart.control(minsplit = 8)),
           car),
  run_case("airquality_ozone", rpart(Ozone ~ ., airquality, control = rpart.control(cp = 0.005)),
           airquality),
  run_case("esoph_priors", rpart(status ~ agegp + alcgp + tobgp, eso, weights = people,
                                 subset = people > 0, parms = list(prior = c(0.5, 0.5)),
                                 control = rpart.control(cp = 0.001, minsplit = 4)), eso),
  run_case("cu_summary_absent_levels",
           rpart(Reliability ~ Price + Country + Mileage + Type, cu,
                 control = rpart.control(cp = 0.001, minsplit = 5)), cu_rows),
  # Balanced designs: children that hold equally many rows.
  run_case("warpbreaks_ties", rpart(breaks ~ wool + tension, warpbreaks,
                                    control = rpart.control(cp = 0.001, minsplit = 4)),
           warpbreaks),
  run_case("solder_ties", rpart(skips ~ Opening + Solder + Mask + PadType + Panel, solder,
                                control = rpart.control(cp = 0.002)), solder))
colnames(cases) <- c("name", "function", "model")
write.csv(cases, file.path(dir, "cases.csv"), row.names = FALSE)

