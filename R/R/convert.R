# rpart tree -> model file text (docs/model-format.md in the treexport repository).
#
# What the model file says:
#  - numeric predictors are continuous, and so are logical ones, as 0 (FALSE) and 1 (TRUE); a
#    split "x < t" sends x < t to the child rpart names in ncat and x >= t to the other;
#  - factors (ordered ones too) and character predictors are nominal, with the levels as
#    categories coded 0, 1, ... in level order; a factor split sends the levels csplit marks left
#    to the first child and those it marks right to the second; levels csplit marks as absent
#    from the node go to neither, so the next rule decides (an ordinal field would need
#    intervals, which cannot leave levels out, so ordered factors lose their order);
#  - the target's levels are its categories; counts are yval2's (weighted) class counts,
#    probabilities yval2's class probabilities, the predicted class yval; count is frame$n;
#  - priors (parms$prior) are written, as C&RT with priors, when they differ from the class
#    proportions at the root; otherwise the tree is plain C&RT;
#  - regression nodes carry yval as mean and prediction and sqrt(dev / wt) as standard deviation;
#  - primary splits carry improve as improvement; surrogates carry adj as association, in rpart's
#    order; competitor splits are left out;
#  - missing values follow rpart's default (usesurrogate = 2): the primary split, then the
#    surrogates in order, then the child with more rows (frame$n). A node whose two children
#    hold equally many rows has no biggest child ("biggestChild": null): rpart stops a record
#    that no rule decides there, and so does the model file.

# The model file of a fitted rpart tree (documented in man/).
to_model <- function(fit) {
  model_text(fit, deparse_name(substitute(fit)))
}

deparse_name <- function(expr) {
  text <- paste(deparse(expr, width.cutoff = 60L), collapse = " ")
  if (nchar(text) > 40) "fit" else text
}

# The parts of the fit the conversion reads, with the types and sizes rpart gives them.
check_shape <- function(fit, classification, name) {
  bad <- function(what) refuse(name, ": ", what)
  frame <- fit$frame
  if (!is.data.frame(frame) || nrow(frame) == 0) bad("the tree has no frame")
  m <- nrow(frame)
  whole <- function(x) is.numeric(x) && length(x) == m && all(is.finite(x)) && all(x >= 0) &&
    all(x == floor(x))
  if (!(is.factor(frame$var) || is.character(frame$var)) || anyNA(frame$var)) {
    bad("frame$var does not name a variable or <leaf> for every node")
  }
  if (!is.numeric(frame$n) || length(frame$n) != m || anyNA(frame$n) || any(frame$n < 0)) {
    bad("frame$n is not a count for every node")
  }
  for (column in c("ncompete", "nsurrogate")) {
    if (!whole(frame[[column]])) bad(paste0("frame$", column, " is not a count for every node"))
  }
  for (column in c("wt", "dev", "yval")) {
    if (!is.numeric(frame[[column]]) || length(frame[[column]]) != m) {
      bad(paste0("frame$", column, " is not a number for every node"))
    }
  }
  if (classification) {
    if (!is.numeric(frame$yval2) || !is.matrix(frame$yval2) || nrow(frame$yval2) != m) {
      bad("frame$yval2 is not a matrix with a row for every node")
    }
    if (!is.list(fit$parms) || !is.numeric(fit$parms$prior)) bad("parms$prior is missing")
  }
  splits <- fit$splits
  if (!is.null(splits) && (!is.numeric(splits) || !is.matrix(splits) || is.null(rownames(splits)) ||
                           !all(c("ncat", "index", "improve", "adj") %in% colnames(splits)))) {
    bad("the splits table is not rpart's (a numeric matrix with ncat, index, improve and adj)")
  }
  if (!is.null(fit$csplit) && (!is.numeric(fit$csplit) || !is.matrix(fit$csplit))) {
    bad("csplit is not a numeric matrix")
  }
}

# The conversion proper; every message starts with `name` (the argument's expression, or the
# file the command-line wrapper read). feature_names and target_name, when given, rename the
# predictors (in the formula's order) and the target in the model file.
model_parts <- function(fit, name = "fit", feature_names = NULL, target_name = NULL) {
  # A fit that was edited or damaged after rpart made it can fail any step below in ways the
  # checks do not foresee; R's own error or warning then becomes the refusal's reason.
  malformed <- function(c) {
    refuse(name, ": the tree is malformed (", conditionMessage(c), ")")
  }
  tryCatch(
    withCallingHandlers(convert_fit(fit, name, feature_names, target_name),
                        warning = malformed),
    error = function(e) if (inherits(e, "treexport_refusal")) stop(e) else malformed(e))
}

convert_fit <- function(fit, name, feature_names, target_name) {
  at <- function(...) paste0(name, ": ", ...)
  if (!inherits(fit, "rpart")) {
    refuse(name, ": holds an object of class ", paste(class(fit), collapse = "/"),
           ", not an rpart tree")
  }
  method <- fit$method
  if (!is.character(method) || length(method) != 1 || !(method %in% c("class", "anova"))) {
    m <- if (is.character(method) && length(method) == 1) method else "user-defined"
    refuse(at("the tree was fitted with method \"", m,
              "\"; only \"class\" and \"anova\" trees can be converted"))
  }
  classification <- method == "class"
  usesurrogate <- if (is.list(fit$control)) fit$control$usesurrogate
  if (!is.numeric(usesurrogate) || length(usesurrogate) != 1) {
    refuse(at("the tree has no control$usesurrogate"))
  }
  if (!identical(as.integer(usesurrogate), 2L)) {
    refuse(at("the tree was fitted with usesurrogate = ", paste(usesurrogate, collapse = " "),
              ", which stops undecided records at inner nodes; the model file always sends ",
              "them on to the biggest child; refit with usesurrogate = 2"))
  }
  check_shape(fit, classification, name)

  vars <- variables_of(fit, name)
  if (!is.null(feature_names)) {
    if (length(feature_names) != length(vars$predictors)) {
      refuse(at("gives ", length(feature_names), " feature names for ",
                length(vars$predictors), " predictors (",
                paste(vars$predictors, collapse = ", "), ")"))
    }
    vars$names <- feature_names
  }
  if (!is.null(target_name)) vars$target <- target_name
  all_names <- c(vars$names, vars$target)
  if (anyDuplicated(all_names) || any(all_names == "")) {
    refuse(at(if (any(all_names == "")) "a field name is empty" else
      paste0("the field name ", all_names[anyDuplicated(all_names)], " is given twice")))
  }
  fields <- field_texts(fit, vars, classification, name)
  tree <- tree_texts(fit, vars, classification, name)

  top <- c(
    "  \"format\": \"treexport-model\"",
    "  \"version\": 1",
    paste0("  \"function\": ", if (classification) "\"classification\"" else "\"regression\""),
    paste0("  \"algorithm\": ", if (!is.null(tree$priors)) 1 else 0))
  if (!is.null(tree$priors)) {
    top <- c(top, paste0("  \"priors\": ", json_array(json_number(tree$priors, at("parms$prior")))))
  }
  top <- c(top,
    paste0("  \"fields\": [\n    ", paste(fields$texts, collapse = ",\n    "), "\n  ]"),
    paste0("  \"predictors\": ", json_array(json_string(vars$names, "predictor name"))),
    paste0("  \"target\": ", json_string(vars$target, "target name")))
  if (!is.null(fields$weight)) {
    top <- c(top, paste0("  \"caseWeight\": ", json_string(fields$weight, "weight name")))
  }
  if (tree$tied > 0) {
    message(name, ": ", tree$tied, if (tree$tied == 1) " node has" else " nodes have",
            " two children holding equally many rows; the model file gives ",
            if (tree$tied == 1) "it" else "them", " no biggest child, so a record no rule ",
            "decides stops there, as in rpart")
  }
  list(head = paste0("{\n", paste(top, collapse = ",\n"), ",\n  \"nodes\": [\n    "),
       nodes = tree$nodes, tail = "\n  ]\n}\n")
}

# The model file's parts: the text up to the first node, one text per node (joined by
# node_separator) and the text after the last. Exports write them to the file one by one and
# never build the whole text.
node_separator <- ",\n    "

model_text <- function(fit, name = "fit") {
  parts <- model_parts(fit, name)
  paste0(parts$head, paste(parts$nodes, collapse = node_separator), parts$tail)
}

write_parts <- function(parts, path_or_connection) {
  con <- path_or_connection
  if (is.character(con)) {
    con <- file(con, open = "wb")
    on.exit(close(con))
  }
  n <- length(parts$nodes)
  writeLines(parts$head, con, sep = "", useBytes = TRUE)
  writeLines(parts$nodes[-n], con, sep = node_separator, useBytes = TRUE)
  writeLines(c(parts$nodes[n], parts$tail), con, sep = "", useBytes = TRUE)
  flush(con)
}

# The target's and the predictors' names and data classes, from the terms. A predictor must be
# a column of the data as it is: a scoring document gets the columns, not the formula.
variables_of <- function(fit, name) {
  at <- function(...) paste0(name, ": ", ...)
  terms <- fit$terms
  if (is.null(terms)) refuse(at("the tree has no terms"))
  if (!identical(as.integer(attr(terms, "response")), 1L)) {
    refuse(at("the tree's terms name no response"))
  }
  classes <- attr(terms, "dataClasses")
  labels <- attr(terms, "term.labels")
  if (length(labels) == 0) refuse(at("the tree has no predictors"))
  interactions <- labels[attr(terms, "order") > 1]
  if (length(interactions) > 0) {
    refuse(at("the formula term ", interactions[1], " is an interaction, which a scoring ",
              "document cannot compute; compute the column first (for example ",
              "data$ab <- interaction(data$a, data$b), or the product of two numbers) and fit ",
              "on it"))
  }
  # Each term of order 1 is one variable of the formula; its expression says whether it is a
  # column as it stands.
  variables <- as.list(attr(terms, "variables"))[-1]
  labels_of_variables <- vapply(variables, function(v) {
    paste(deparse(v, backtick = TRUE), collapse = "")
  }, "")
  exprs <- variables[match(labels, labels_of_variables)]
  plain <- vapply(exprs, is.name, NA)
  if (!all(plain)) {
    t <- labels[!plain][1]
    refuse(at("the formula term ", t, " is a transformation, which a scoring document ",
              "cannot compute; compute the column first (for example data$x_new <- ", t,
              ") and fit on that column"))
  }
  # The column names: what the model frame, xlevels and the splits table use (no backticks).
  predictors <- vapply(exprs, as.character, "")
  target <- labels_of_variables[attr(terms, "response")]
  target_expr <- variables[[attr(terms, "response")]]
  if (is.name(target_expr)) target <- as.character(target_expr)
  list(predictors = predictors, names = predictors, target = target, classes = classes)
}

field_texts <- function(fit, vars, classification, name) {
  at <- function(...) paste0(name, ": ", ...)
  xlevels <- attr(fit, "xlevels")
  texts <- character(length(vars$predictors))
  for (k in seq_along(vars$predictors)) {
    p <- vars$predictors[k]
    cls <- vars$classes[[p]]
    if (is.null(cls)) refuse(at("predictor ", p, " has no data class in the terms"))
    if (cls %in% c("numeric", "logical")) {
      # rpart splits a logical predictor as the number 0 (FALSE) or 1 (TRUE).
      texts[k] <- json_object(c("name", "level", "storage"),
                              c(json_string(vars$names[k], "predictor name"), "\"continuous\"",
                                "\"numeric\""))
    } else if (cls %in% c("factor", "ordered", "character")) {
      lv <- xlevels[[p]]
      if (is.null(lv)) refuse(at("factor predictor ", p, " has no levels in xlevels"))
      # Ordered factors too: rpart splits them by csplit like any factor, and a level that
      # csplit marks absent must reach neither child, which only a code list can say.
      texts[k] <- json_object(c("name", "level", "storage", "categories"),
                              c(json_string(vars$names[k], "predictor name"), "\"nominal\"",
                                "\"string\"",
                                categories_text(lv, paste0("level of ", p))))
    } else {
      refuse(at("predictor ", p, " is of class ", cls, "; only numeric, logical, factor, ",
                "ordered and character predictors can be converted"))
    }
  }
  target <- if (classification) {
    ylevels <- attr(fit, "ylevels")
    if (length(ylevels) < 1) refuse(at("the class tree has no ylevels"))
    json_object(c("name", "level", "storage", "categories"),
                c(json_string(vars$target, "target name"), "\"nominal\"", "\"string\"",
                  categories_text(ylevels, "class label")))
  } else {
    json_object(c("name", "level", "storage"),
                c(json_string(vars$target, "target name"), "\"continuous\"", "\"numeric\""))
  }
  texts <- c(texts, target)
  weight <- NULL
  if ("(weights)" %in% names(vars$classes)) {
    weight <- paste(deparse(fit$call$weights), collapse = "")
    if (weight == "" || weight %in% c(vars$names, vars$target)) weight <- "(weights)"
    texts <- c(texts, json_object(c("name", "level", "storage"),
                                  c(json_string(weight, "weight name"), "\"continuous\"",
                                    "\"numeric\"")))
  }
  list(texts = texts, weight = weight)
}

categories_text <- function(levels, what) {
  codes <- json_whole(seq_along(levels) - 1)
  json_array(paste0("{\"code\": ", codes, ", \"values\": [", json_string(levels, what), "]}"))
}

# One text per node, in frame order (rpart's pre-order), and what the file's top needs.
tree_texts <- function(fit, vars, classification, name) {
  at <- function(...) paste0(name, ": ", ...)
  frame <- fit$frame
  m <- nrow(frame)
  # rpart numbers the children of node k as 2k and 2k + 1; kept as doubles, which hold every id
  # of a tree 30 levels deep (and beyond) exactly.
  ids <- suppressWarnings(as.numeric(rownames(frame)))
  if (anyNA(ids) || any(ids < 1 | ids != floor(ids))) {
    refuse(at("the frame's row names are not rpart node numbers"))
  }
  if (any(ids > 4294967295)) {
    refuse(at("node ", json_whole(max(ids)), " has an id past 4294967295, the largest a model ",
              "file holds (the tree is more than 31 levels deep)"))
  }
  if (ids[1] != 1) refuse(at("the frame does not start with the root, node 1"))
  if (anyDuplicated(ids)) refuse(at("node ", ids[anyDuplicated(ids)], " is in the frame twice"))
  var <- as.character(frame$var)
  leaf <- var == "<leaf>"
  left <- match(2 * ids, ids)
  right <- match(2 * ids + 1, ids)
  missing_child <- !leaf & (is.na(left) | is.na(right))
  if (any(missing_child)) {
    refuse(at("node ", ids[missing_child][1], ": a child is missing from the frame"))
  }
  parent <- match(floor(ids / 2), ids)
  orphan <- c(FALSE, is.na(parent[-1]) | leaf[parent[-1]])
  if (any(orphan)) refuse(at("node ", ids[orphan][1], " hangs below no inner node"))
  # Names the node of frame row k (k past the last row wraps round: matrix columns), with what.
  where <- function(what = "") {
    function(k) paste0(name, ": node ", json_whole(ids[(k - 1) %% m + 1]), what)
  }
  inner <- which(!leaf)

  # Each node's text is one paste0 over all nodes: its pieces are columns (one text per node)
  # or constants, and a part a node lacks is "" in every one of its columns. Pasting pieces
  # straight into the node texts, rather than into texts per part first, is what keeps a tree
  # of 100,000 nodes fast.
  on <- function(present, text) c("", text)[present + 1]
  columns <- function(texts, k, sep, present = TRUE) {
    # The k columns of a matrix of element texts (one row per text to make), joined by sep.
    texts <- matrix(texts, ncol = k)
    pieces <- vector("list", 2 * k - 1)
    for (j in seq_len(k)) {
      column <- texts[, j]
      if (!isTRUE(present)) column[!present] <- ""
      pieces[[2 * j - 1]] <- column
      if (j < k) pieces[[2 * j]] <- if (isTRUE(present)) sep else on(present, sep)
    }
    pieces
  }

  # Samples. Many nodes, leaves above all, hold the same numbers (a big tree has thousands of
  # leaves with one or two rows), so each distinct samples text is made once: `group` numbers
  # the nodes with equal numbers alike and `lead` holds the first node of each group. The checks
  # run over every node, so a message names the first node at fault.
  check_finite(frame$n, where(": n"))
  priors <- NULL
  if (classification) {
    K <- length(attr(fit, "ylevels"))
    yval2 <- frame$yval2
    if (is.null(yval2) || ncol(yval2) < 2 * K + 1) refuse(at("frame$yval2 is missing"))
    prior <- fit$parms$prior
    if (length(prior) != K) refuse(at("parms$prior does not have ", K, " entries"))
    counts <- yval2[, 1 + seq_len(K), drop = FALSE]
    probs <- yval2[, 1 + K + seq_len(K), drop = FALSE]
    observed <- counts[1, ] / sum(counts[1, ])
    if (any(abs(prior - observed) > 1e-9)) priors <- prior
    predicted <- yval2[, 1] - 1
    if (anyNA(predicted) || any(predicted < 0 | predicted >= K)) {
      refuse(where()(which(is.na(predicted) | predicted < 0 | predicted >= K)[1]),
             ": the predicted class is not one of the ", K, " classes")
    }
    negative <- which(rowSums(counts < 0) > 0)
    if (length(negative) > 0) refuse(where(": a class count is negative")(negative[1]))
    check_finite(counts, where(": class counts"))
    check_finite(probs, where(": probabilities"))
    total <- rowSums(counts)
    divisor <- total
    divisor[!(total > 0)] <- 1
    share <- counts / divisor
    check_finite(share, where(": class proportions"))
    group <- row_groups(c(list(frame$n, predicted), lapply(seq_len(K), function(j) counts[, j]),
                          lapply(seq_len(K), function(j) probs[, j])))
    lead <- which(!duplicated(group))
    shared <- total[lead] > 0
    samples <- do.call(paste0, c(
      list("[{\"count\": ", json_number(frame$n[lead]), ", \"class\": {\"predicted\": ",
           json_whole(predicted[lead]), ", \"counts\": ["),
      columns(json_number(counts[lead, , drop = FALSE]), K, ", "),
      list("]", on(shared, ", \"proportions\": [")),
      columns(json_number(share[lead, , drop = FALSE]), K, ", ", shared),
      list(on(shared, "]"), ", \"probabilities\": ["),
      columns(json_number(probs[lead, , drop = FALSE]), K, ", "),
      list("]}}]")))
  } else {
    check_finite(frame$yval, where(": yval"))
    sd <- ifelse(frame$wt > 0, sqrt(pmax(frame$dev, 0) / frame$wt), 0)
    check_finite(sd, where(": dev"))
    group <- row_groups(list(frame$n, frame$yval, sd))
    lead <- which(!duplicated(group))
    mean <- json_number(frame$yval[lead])
    samples <- paste0("[{\"count\": ", json_number(frame$n[lead]),
                      ", \"regression\": {\"mean\": ", mean,
                      ", \"stdDev\": ", json_number(sd[lead]), ", \"prediction\": ", mean,
                      "}}]")
  }
  samples <- samples[group]

  # Rules: the row of each inner node's primary split in fit$splits (primary, competitors and
  # surrogates follow each other node by node, in frame order), then its surrogates.
  splits <- fit$splits
  ncompete <- frame$ncompete
  nsurrogate <- frame$nsurrogate
  used <- (!leaf) + ncompete + nsurrogate
  first <- 1 + c(0, cumsum(used))[seq_len(m)]
  if (length(inner) > 0) {
    if (is.null(splits) || max(first[inner] + used[inner] - 1) > nrow(splits) ||
        any(rownames(splits)[first[inner]] != var[inner])) {
      bad <- if (is.null(splits)) inner[1] else {
        inner[which(first[inner] > nrow(splits) | rownames(splits)[first[inner]] != var[inner] |
                      is.na(rownames(splits)[first[inner]]))[1]]
      }
      if (is.na(bad)) bad <- inner[length(inner)]
      refuse(where(": the splits table does not match the frame")(bad))
    }
  }
  primary_rows <- first[inner]
  ns <- nsurrogate[inner]
  owner_of_surrogate <- rep(inner, ns)
  surrogate_rows <- rep(primary_rows + ncompete[inner], ns) + sequence(ns)
  rules <- rule_texts(fit, vars, c(primary_rows, surrogate_rows),
                      c(inner, owner_of_surrogate),
                      c(rep("improvement", length(inner)), rep("association", sum(ns))),
                      where)
  primary <- character(m)
  primary[inner] <- rules[seq_along(inner)]
  # Each node's surrogates, one round per place in the list: the k-th round appends the k-th
  # surrogate of every node that has that many.
  surrogates <- character(m)
  rank <- sequence(ns)
  for (k in seq_len(max(0, ns))) {
    nodes_k <- owner_of_surrogate[rank == k]
    surrogates[nodes_k] <- paste0(surrogates[nodes_k], if (k > 1) ", ",
                                  rules[length(inner) + which(rank == k)])
  }
  with_surrogates <- surrogates != ""

  # A record that no rule decides goes to the child with more rows; with equal counts rpart
  # stops it at the node.
  n <- frame$n
  tied <- !leaf
  tied[inner] <- n[left[inner]] == n[right[inner]]

  id_text <- json_whole(ids)
  left_text <- right_text <- character(m)
  left_text[inner] <- id_text[left[inner]]
  right_text[inner] <- id_text[right[inner]]
  nodes <- paste0("{\"id\": ", id_text, on(!leaf, ", \"children\": ["), left_text,
                  on(!leaf, ", "), right_text, on(!leaf, "]"), ", \"samples\": ", samples,
                  on(!leaf, ", \"split\": "), primary, on(with_surrogates, ", \"surrogates\": ["),
                  surrogates, on(with_surrogates, "]"), on(tied, ", \"biggestChild\": null"),
                  "}")
  list(nodes = nodes, priors = priors, tied = sum(tied))
}

# One rule object per row of fit$splits named in `rows`; `node` gives each row's frame row and
# `kind` its statistic ("improvement" from improve, "association" from adj). where(what)(k)
# names frame row k in messages.
rule_texts <- function(fit, vars, rows, node, kind, where) {
  at <- function(j, ...) refuse(where()(node[j]), ...)
  if (length(rows) == 0) return(character(0))
  splits <- fit$splits
  csplit <- fit$csplit
  xlevels <- attr(fit, "xlevels")
  label <- rownames(splits)[rows]
  k <- match(label, vars$predictors)
  if (anyNA(k)) {
    j <- which(is.na(k))[1]
    at(j, ": split on ", label[j], ", not a predictor")
  }
  predictor <- vars$predictors[k]
  ncat <- splits[rows, "ncat"]
  index <- splits[rows, "index"]
  nominal <- vars$classes[predictor] %in% c("factor", "ordered", "character")
  cut <- abs(ncat) == 1
  if (any(cut & nominal)) {
    j <- which(cut & nominal)[1]
    at(j, ": factor predictor ", predictor[j], " has a split at a cut point")
  }
  if (any(!cut & !nominal)) {
    j <- which(!cut & !nominal)[1]
    at(j, ": numeric predictor ", predictor[j], " has a categorical split")
  }
  # Each rule's two sides: for a cut point, "x >= t" ({"low": t}) and "x < t" ({"high": t,
  # "highOpen": true}), the one ncat names first (-1: x < t); for a factor split, the codes
  # csplit marks left (1), then those it marks right (3). One paste0 writes every rule.
  first_kind <- second_kind <- rep(3L, length(rows))
  first_kind[cut] <- 1L + (ncat[cut] < 0)
  second_kind[cut] <- 2L - (ncat[cut] < 0)
  first_value <- second_value <- character(length(rows))
  if (any(cut)) {
    point <- json_number(index[cut], function(k) where(": split point")(node[cut][k]))
    first_value[cut] <- point
    second_value[cut] <- point
  }
  if (any(!cut)) {
    j <- which(!cut)
    nlev <- vapply(predictor[j], function(p) length(xlevels[[p]]), 0L)
    ok <- !is.null(csplit) & index[j] >= 1 & index[j] <= NROW(csplit) & ncat[j] == nlev &
      nlev <= NCOL(csplit)
    if (!all(ok)) {
      b <- j[!ok][1]
      at(b, ": the split on ", predictor[b], " has no matching csplit row")
    }
    dirs <- csplit[index[j], , drop = FALSE]
    dirs[col(dirs) > nlev] <- 2L
    # csplit: 1 left, 3 right, 2 absent from the node. One code list per split and side; the
    # hits of the transposed matrix come split by split, codes rising.
    code_text <- as.character(seq_len(ncol(dirs)) - 1L)
    codes <- function(d) {
      hit <- which(t(dirs) == d) - 1L
      join_groups(code_text[hit %% ncol(dirs) + 1L], hit %/% ncol(dirs) + 1L, length(j))
    }
    first_value[j] <- codes(1)
    second_value[j] <- codes(3)
  }
  opening <- c("{\"low\": ", "{\"high\": ", "{\"codes\": [")
  closing <- c("}", ", \"highOpen\": true}", "]}")
  stat <- splits[rows, "adj"]
  improvement <- kind == "improvement"
  stat[improvement] <- splits[rows[improvement], "improve"]
  quoted <- json_string(vars$names, "predictor name")[k]
  paste0("{\"predictor\": ", quoted, ", \"children\": [",
         opening[first_kind], first_value, closing[first_kind], ", ",
         opening[second_kind], second_value, closing[second_kind], "], \"statistics\": [",
         json_number(stat, function(k) where(paste0(": ", kind[k]))(node[k])), "], \"kinds\": [\"",
         kind, "\"]}")
}
