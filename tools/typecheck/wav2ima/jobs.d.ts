export * from '../../../npm/jobs.js';
