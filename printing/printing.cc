// The printing library: settings store, snapshot, summary, dialog and submission.
